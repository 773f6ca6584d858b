// SPDX-License-Identifier: GPL-3.0-or-later
// POSIX: the temporary is private (0600) while it is written; just before rename(2) swaps the
// name over in one step it gets the old file's owner and permission bits, or a new file's mode.
#include "export/mp3_destination.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

// The mode a file created in `folder` gets: 0666 less the umask, or what the folder's default
// ACL gives. An empty file created and removed at once, since umask(2) cannot be read without
// setting it for every thread of the process. 0600 when no such file can be made.
mode_t newFileMode(const std::filesystem::path& nearby) {
    const std::filesystem::path probe = nearby.native() + ".mode";
    const int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return 0600;
    struct stat st {};
    const bool known = fstat(fd, &st) == 0;
    unlink(probe.c_str());
    close(fd);
    return known ? st.st_mode & 07777 : 0600;
}

// A file system that does not keep modes (FAT, many FUSE and network mounts) refuses chmod; the
// file then has what that file system gives every file, as it would have had if written in
// place. EROFS too: if the mount is really read-only the rename fails next and is reported.
bool modeRefused(int error) {
    return error == EPERM || error == ENOTSUP || error == EOPNOTSUPP || error == ENOSYS || error == EROFS;
}

}  // namespace

std::filesystem::path Mp3Destination::resolveTarget(const std::filesystem::path& file) {
    std::filesystem::path path = file;
    for (int hops = 0; hops < 40; ++hops) {   // the kernel's own limit on a chain of links
        std::error_code ec;
        if (!std::filesystem::is_symlink(path, ec)) return path;
        const std::filesystem::path next = std::filesystem::read_symlink(path, ec);
        if (ec) return {};
        path = next.is_absolute() ? next : path.parent_path() / next;   // relative to the link's folder
    }
    return {};
}

// A file with no write bit at all counts as read-only for root too (who could write it anyway),
// as the read-only attribute does for an administrator on Windows.
bool Mp3Destination::isReadOnly(const std::filesystem::path& file) {
    struct stat st {};
    if (stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    return (st.st_mode & 0222) == 0 || (access(file.c_str(), W_OK) != 0 && (errno == EACCES || errno == EROFS));
}

bool Mp3Destination::createPrivateFile(const std::filesystem::path& file) {
    const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    close(fd);
    return true;
}

bool Mp3Destination::putInPlace(const std::filesystem::path& from, const std::filesystem::path& to) {
    struct stat old {};
    mode_t mode = 0;
    if (stat(to.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        // Owner and group first, since a change of owner clears set-ID bits. Only root may give
        // a file away; a user may still hand it to a group of theirs. When neither is allowed
        // the MP3 stays the user's, like any file the user writes.
        if (chown(from.c_str(), old.st_uid, old.st_gid) != 0 &&
            chown(from.c_str(), static_cast<uid_t>(-1), old.st_gid) != 0) {
            // neither allowed: the new file keeps this process's owner and group
        }
        mode = old.st_mode & 07777;
    } else {
        mode = newFileMode(from);
    }
    if (chmod(from.c_str(), mode) != 0 && !modeRefused(errno)) return false;
    return rename(from.c_str(), to.c_str()) == 0;
}

std::filesystem::path Mp3Destination::temporaryFolder(const std::filesystem::path& target) { return target.parent_path(); }
