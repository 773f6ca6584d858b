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

// Open files by a wide path (through nativeFilePath): on Windows by the wide path itself (so non-ASCII names land on disk
// as typed), elsewhere by its UTF-8 bytes. Both throw std::range_error when ws2s would, before
// any file is touched. The implementation is chosen per platform by the build.
void openBinaryForWriting(std::ofstream& file, const std::wstring& path);
void openBinaryForReading(std::ifstream& file, const std::wstring& path);

// A second handle on a file that this process writes through a stream, opened by the same wide
// path, to force what was written onto the disk: a power cut shortly after "Saved" must not leave
// an empty or short file (XFS, btrfs, ext4 without auto_da_alloc keep new data in memory for
// seconds). Opened at once; a file it cannot open is not flushed (flush() then says so).
// Implemented per platform beside the functions above. One thread at a time.
class DiskFlush {
public:
    explicit DiskFlush(const std::wstring& path);
    ~DiskFlush();
    DiskFlush(const DiskFlush&) = delete;
    DiskFlush& operator=(const DiskFlush&) = delete;

    // The file's data and length (fdatasync; FlushFileBuffers), then, on POSIX, the folder that
    // names it (a new file's name is in the folder, not the file). True when all reached the disk.
    bool flush();
    bool isOpen() const { return handle_ != -1; }

private:
    std::filesystem::path path_;
    std::intptr_t handle_;   // file descriptor or HANDLE; -1 when it could not be opened
};
