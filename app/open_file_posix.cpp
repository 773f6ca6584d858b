// SPDX-License-Identifier: GPL-3.0-or-later
// POSIX file names are bytes; the desktop's convention (and GTK's) is UTF-8.
#include "app/ws2s.h"

#include <stdexcept>

#include <fcntl.h>
#include <unistd.h>

std::filesystem::path nativeFilePath(const std::wstring& path) { return ws2s(path); }

void openBinaryForWriting(std::ofstream& file, const std::wstring& path) {
    file.open(nativeFilePath(path), std::ios::binary | std::ios::out | std::ios::trunc);
}

void openBinaryForReading(std::ifstream& file, const std::wstring& path) {
    file.open(nativeFilePath(path), std::ios::binary | std::ios::in);
}

DiskFlush::DiskFlush(const std::wstring& path) : handle_(-1) {
    try {
        path_ = nativeFilePath(path);
    } catch (const std::range_error&) {
        return;
    }
    // Read-only is enough: fdatasync acts on the file, whatever the descriptor may do.
    handle_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
}

DiskFlush::~DiskFlush() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

bool DiskFlush::flush() {
    if (handle_ < 0 || ::fdatasync(static_cast<int>(handle_)) != 0) return false;
    std::filesystem::path folder = path_.parent_path();
    if (folder.empty()) folder = ".";
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return false;
    const bool synced = ::fsync(dir) == 0;
    ::close(dir);
    return synced;
}
