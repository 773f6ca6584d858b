// SPDX-License-Identifier: GPL-3.0-or-later
// Windows: a handle shared for reading and writing, as the C runtime's fopen shares it, so an
// export can read the take while it is recorded. Opened by the wide name itself.
#include "capture/disk_file.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

bool syncFileToDisk(std::intptr_t file) {
    if (FlushFileBuffers(reinterpret_cast<HANDLE>(file)) != 0) return true;
    // A device or file system that has no flush (a console, some network redirectors).
    return GetLastError() == ERROR_INVALID_FUNCTION;
}

// NTFS commits a file's name with its metadata, which FlushFileBuffers writes.
bool syncFolderToDisk(const std::filesystem::path&) { return true; }

DiskFile::File DiskFile::createFile(const std::filesystem::path& name) {
    const HANDLE handle = CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return reinterpret_cast<File>(handle);   // INVALID_HANDLE_VALUE is NO_FILE
}

bool DiskFile::writeAll(File file, const char* bytes, std::size_t count) {
    const HANDLE handle = reinterpret_cast<HANDLE>(file);
    while (count > 0) {
        const DWORD piece = static_cast<DWORD>(count < (1u << 30) ? count : (1u << 30));
        DWORD done = 0;
        if (!WriteFile(handle, bytes, piece, &done, nullptr) || done == 0) return false;
        bytes += done;
        count -= done;
    }
    return true;
}

std::int64_t DiskFile::seekFile(File file, std::int64_t offset, From from) {
    const DWORD method = from == From::Start ? FILE_BEGIN : from == From::Current ? FILE_CURRENT : FILE_END;
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    LARGE_INTEGER at;
    if (!SetFilePointerEx(reinterpret_cast<HANDLE>(file), distance, &at, method)) return -1;
    return at.QuadPart;
}

bool DiskFile::closeFile(File file) { return CloseHandle(reinterpret_cast<HANDLE>(file)) != 0; }
