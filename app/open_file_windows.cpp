// SPDX-License-Identifier: GPL-3.0-or-later
// Windows file names are UTF-16: open by the wide path (the narrow API would go through the ANSI
// code page and mangle "Müller.wav" or emoji names). The ws2s call keeps the unpaired-surrogate
// refusal identical on every platform.
#include "app/ws2s.h"

#include <stdexcept>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

std::filesystem::path nativeFilePath(const std::wstring& path) {
    (void)ws2s(path);
    return path;
}

void openBinaryForWriting(std::ofstream& file, const std::wstring& path) {
    file.open(nativeFilePath(path), std::ios::binary | std::ios::out | std::ios::trunc);
}

void openBinaryForReading(std::ifstream& file, const std::wstring& path) {
    file.open(nativeFilePath(path), std::ios::binary | std::ios::in);
}

DiskFlush::DiskFlush(const std::wstring& path)
    : handle_(reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE)) {
    try {
        path_ = nativeFilePath(path);
    } catch (const std::range_error&) {
        return;
    }
    // FlushFileBuffers needs write access. The C runtime opened the stream sharing read and
    // write, so a second writer's handle is allowed beside it; nothing is written through it.
    handle_ = reinterpret_cast<std::intptr_t>(
        CreateFileW(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

DiskFlush::~DiskFlush() {
    const HANDLE file = reinterpret_cast<HANDLE>(handle_);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

// NTFS commits the file's size and its directory entry with its data.
bool DiskFlush::flush() {
    const HANDLE file = reinterpret_cast<HANDLE>(handle_);
    return file != INVALID_HANDLE_VALUE && FlushFileBuffers(file) != 0;
}
