// SPDX-License-Identifier: GPL-3.0-or-later
// POSIX: the temporary is private (0600) while it is written; just before rename(2) swaps the
// name over in one step it gets the old file's owner, permission bits and access ACL, or a new
// file's mode. Everything but the rename acts on the descriptor, since in a folder others may
// write (0777 without the sticky bit) the temporary's name can be swapped for a link to any file.
#include "export/mp3_destination.h"

#include "capture/disk_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

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

// Linux keeps a file's access ACL in this attribute, only when it has entries beyond the owner,
// group and other ones that the mode already holds. Giving the new file only the old mode would
// turn the ACL's mask into its group bits and drop the named users and groups.
constexpr char ACL_ATTRIBUTE[] = "system.posix_acl_access";

// Best effort like the mode: a file system without ACLs (or one refusing them) keeps the mode.
void copyAccessAcl(const std::filesystem::path& from, int to) {
    const ssize_t size = lgetxattr(from.c_str(), ACL_ATTRIBUTE, nullptr, 0);
    if (size <= 0) return;
    std::vector<char> acl(static_cast<std::size_t>(size));
    const ssize_t got = lgetxattr(from.c_str(), ACL_ATTRIBUTE, acl.data(), acl.size());
    if (got > 0 && fsetxattr(to, ACL_ATTRIBUTE, acl.data(), static_cast<std::size_t>(got), 0) != 0) {
        // refused: the new file has the old mode without the named entries
    }
}

// Whether `name` (not followed if a link) is the file open as `fd`.
bool namesFile(const std::filesystem::path& name, int fd) {
    struct stat open {}, named {};
    return fstat(fd, &open) == 0 && fstatat(AT_FDCWD, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
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

Mp3Destination::File Mp3Destination::createPrivateFile(const std::filesystem::path& file) {
    return open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
}

bool Mp3Destination::writeAt(File file, std::uint64_t offset, const unsigned char* bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t done = pwrite(static_cast<int>(file), bytes, count, static_cast<off_t>(offset));
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        bytes += done;
        count -= static_cast<std::size_t>(done);
        offset += static_cast<std::uint64_t>(done);
    }
    return true;
}

void Mp3Destination::closeFile(File file) { close(static_cast<int>(file)); }

bool Mp3Destination::putInPlace() {
    const int fd = static_cast<int>(file_);
    struct stat old {};
    const bool replacing = lstat(target_.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    mode_t mode = 0;
    if (replacing) {
        // Owner and group first, since a change of owner clears set-ID bits. Only root may give
        // a file away; a user may still hand it to a group of theirs. When neither is allowed
        // the MP3 stays the user's, like any file the user writes.
        if (fchown(fd, old.st_uid, old.st_gid) != 0 && fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
            // neither allowed: the new file keeps this process's owner and group
        }
        mode = old.st_mode & 07777;
    } else {
        mode = newFileMode(temporary_);
    }
    bool placed = fchmod(fd, mode) == 0 || modeRefused(errno);
    if (placed && replacing) copyAccessAcl(target_, fd);
    // The data reaches the disk before the name leads to it: with delayed allocation (XFS,
    // btrfs, ext4 without auto_da_alloc) a power cut soon after a bare rename can leave the name
    // on an empty or short file.
    placed = placed && syncFileToDisk(fd);
    // The one step that acts on a name, which must still lead to the file written: a swap is
    // caught unless it falls between these two calls (where the folder has the sticky bit, as
    // /tmp has, no other user can swap it at all). A name that leads elsewhere is not this
    // export's to remove.
    if (placed && !namesFile(temporary_, fd)) {
        temporary_.clear();
        placed = false;
    }
    placed = placed && rename(temporary_.c_str(), target_.c_str()) == 0;
    closeFile(file_);
    file_ = NO_FILE;
    if (!placed) return false;
    // The rename is a change of the folder, written back whenever the file system likes: flushed
    // too, so the new name (not only the new data) survives a power cut. The temporary's name is
    // gone now, whatever the flush says.
    temporary_.clear();
    return syncFolderToDisk(temporaryFolder(target_));
}

std::filesystem::path Mp3Destination::temporaryFolder(const std::filesystem::path& target) { return target.parent_path(); }
