// SPDX-License-Identifier: GPL-3.0-or-later
// POSIX: a descriptor opened as fopen("wb") would open it (0666 less the umask).
#include "capture/disk_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

// What fdatasync and fsync answer for a file that has no such thing to do (a special file, or a
// file system without the operation): not a failure of the data.
bool cannotSync(int error) { return error == EINVAL || error == EROFS; }

}  // namespace

bool syncFileToDisk(std::intptr_t file) {
    for (;;) {
        if (fdatasync(static_cast<int>(file)) == 0) return true;
        if (errno != EINTR) return cannotSync(errno);
    }
}

bool syncFolderToDisk(const std::filesystem::path& folder) {
    const int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return true;   // a folder that cannot be opened cannot be flushed either
    bool synced = false;
    for (;;) {
        if (fsync(fd) == 0) {
            synced = true;
            break;
        }
        if (errno != EINTR) {
            synced = cannotSync(errno);
            break;
        }
    }
    ::close(fd);
    return synced;
}

DiskFile::File DiskFile::createFile(const std::filesystem::path& name) {
    return open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
}

bool DiskFile::writeAll(File file, const char* bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t done = write(static_cast<int>(file), bytes, count);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        bytes += done;
        count -= static_cast<std::size_t>(done);
    }
    return true;
}

std::int64_t DiskFile::seekFile(File file, std::int64_t offset, From from) {
    const int whence = from == From::Start ? SEEK_SET : from == From::Current ? SEEK_CUR : SEEK_END;
    return static_cast<std::int64_t>(lseek(static_cast<int>(file), static_cast<off_t>(offset), whence));
}

// Linux closes the descriptor even when close(2) is interrupted; EINTR is no lost data.
bool DiskFile::closeFile(File file) { return ::close(static_cast<int>(file)) == 0 || errno == EINTR; }
