// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

// UTF-8 form of a wide string, no byte-order mark. A UTF-16 surrogate pair becomes the 4-byte
// form of its code point (whatever the width of wchar_t); an unpaired surrogate or a value above
// U+10FFFF throws std::range_error("wstring_convert::to_bytes"). Safe on any thread.
std::string ws2s(const std::wstring& wide);

// Wide form of UTF-8 text (a GTK file name, say): UTF-16 with surrogate pairs where wchar_t is
// 16 bits, one code point per wchar_t otherwise. Malformed bytes become U+FFFD.
std::wstring utf8ToWide(const std::string& utf8);

// The file system's name for a wide path: the wide path itself on Windows, its UTF-8 bytes
// elsewhere. Throws std::range_error when ws2s would. Chosen per platform by the build.
std::filesystem::path nativeFilePath(const std::wstring& path);

// Opens a file for reading by a wide path (through nativeFilePath): on Windows by the wide path
// itself (so non-ASCII names are found as typed), elsewhere by its UTF-8 bytes. Throws
// std::range_error when ws2s would, before any file is touched. Chosen per platform by the build.
// (A take's file is created by DiskFile, capture/disk_file.h, through the same nativeFilePath.)
void openBinaryForReading(std::ifstream& file, const std::wstring& path);
