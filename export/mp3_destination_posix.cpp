// POSIX: the old file's owner and permission bits are set on the new one, then rename(2) swaps
// the name over in one step.
#include "export/mp3_destination.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

std::filesystem::path linkTarget(const std::filesystem::path& file) {
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
bool isReadOnlyFile(const std::filesystem::path& file) {
    struct stat st {};
    if (stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    return (st.st_mode & 0222) == 0 || (access(file.c_str(), W_OK) != 0 && (errno == EACCES || errno == EROFS));
}

bool createNewFile(const std::filesystem::path& file) {
    const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    close(fd);
    return true;
}

bool replaceFile(const std::filesystem::path& from, const std::filesystem::path& to) {
    struct stat old {};
    if (stat(to.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        // Owner and group first, since a change of owner clears set-ID bits. Only root may give
        // a file away; a user may still hand it to a group of theirs. When neither is allowed
        // the MP3 stays the user's, like any file the user writes.
        if (chown(from.c_str(), old.st_uid, old.st_gid) != 0 &&
            chown(from.c_str(), static_cast<uid_t>(-1), old.st_gid) != 0) {
            // neither allowed: the new file keeps this process's owner and group
        }
        if (chmod(from.c_str(), old.st_mode & 07777) != 0) return false;
    }
    return rename(from.c_str(), to.c_str()) == 0;
}

std::filesystem::path temporaryFolder(const std::filesystem::path& target) { return target.parent_path(); }
