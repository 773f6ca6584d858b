// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where an export's MP3 goes. The MP3 is written to a temporary beside the chosen file and put in
// place of it in one step, so the chosen name holds the old file or the complete new one at every
// moment, never a part. The naming and the clean-up are shared (mp3_destination.cpp); what
// differs per platform (links, permissions, the replace itself) is in the file the build picks:
// mp3_destination_posix.cpp or mp3_destination_windows.cpp. Export thread; one per export.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

class Mp3Destination {
public:
    // Creates ".sonabel-XXXXXX.tmp" (six random letters and digits, an existing name never
    // reused) in the folder of the file `chosen` leads to: short, so it fits wherever the chosen
    // name fits, and recognisable as an export's leftover should the process be killed mid-way.
    // Private to this user until it is put in place (the recording may be a private one). Every
    // byte goes through the descriptor that created it, never through its name, which others may
    // change in a folder they can write. Not opened when the chosen file is read-only (replacing
    // it by rename would get past its read-only mark), for a loop of links, or when no temporary
    // can be made there.
    explicit Mp3Destination(const std::filesystem::path& chosen);
    // Closes and removes the temporary unless it was committed.
    ~Mp3Destination();
    Mp3Destination(const Mp3Destination&) = delete;
    Mp3Destination& operator=(const Mp3Destination&) = delete;

    bool isOpen() const { return file_ != NO_FILE; }
    // Appends `count` bytes to the temporary, unbuffered. False when not all of them were
    // written (a full disk).
    bool write(const unsigned char* bytes, std::size_t count);
    // Writes `count` bytes over the start of the temporary (a header known only at the end).
    bool writeAtStart(const unsigned char* bytes, std::size_t count);

    // Flushes the temporary to the disk, closes it and puts it in place of the destination, so
    // that once this returns true the MP3 survives a power cut. An existing destination's
    // permissions and owner (and on POSIX its access ACL) pass to the new contents (the owner
    // where this process may set it); a new one gets a new file's default (on POSIX 0666 less
    // the umask, or what the folder's default ACL gives). A file system that keeps no permissions
    // leaves them as it makes them. False when the flush or the replace failed, or when the
    // temporary's name no longer leads to the file written: the destination is then as it was.
    // False too when, after the replace, the disk reported an error flushing the folder: the MP3
    // is at its name then, but whether it survives a power cut is in doubt. The flushes follow
    // the rule of syncFileToDisk and syncFolderToDisk (capture/disk_file.h), as a take's do.
    // On Windows a file held open by another program (a virus scanner, the search indexer) is
    // waited for, for about a second. In the rare case the old file, already moved aside as
    // ".sonabel-XXXXXX.bak", cannot be put back, the new MP3 takes the chosen name (the old one
    // is then removed, or stays beside it if it cannot be); if neither can take it, both stay
    // beside it, and whereKept() says where.
    bool commit();
    // After a failed commit() that left the chosen name empty: for the user, the names and the
    // folder of the files that hold the old and the new MP3, neither of which is removed. Empty
    // otherwise (always on POSIX, where the replace is one step).
    const std::wstring& whereKept() const { return whereKept_; }

private:
    // A POSIX file descriptor or a Windows HANDLE; -1 is neither a valid descriptor nor a valid
    // handle (it is INVALID_HANDLE_VALUE).
    using File = std::intptr_t;
    static constexpr File NO_FILE = -1;

    // Per platform. The file the MP3 goes to: the target of `chosen` through symbolic links, so
    // the links stay (on POSIX the missing target of a dangling link, created then; on Windows
    // the final name of whatever `chosen` opens as, else `chosen` itself). Empty for a loop.
    static std::filesystem::path resolveTarget(const std::filesystem::path& chosen);
    // An existing file whose contents are not to be replaced: on POSIX no write permission for
    // this process or no write bit at all, on Windows the read-only attribute.
    static bool isReadOnly(const std::filesystem::path& target);
    // The folder for the temporary, named so that the temporary's short name fits wherever
    // `target` fits: on Windows the extended-length form (\\?\C:\...) of a drive path, which
    // MAX_PATH does not bind; elsewhere, and for a network path, the folder as it is.
    static std::filesystem::path temporaryFolder(const std::filesystem::path& target);
    // Creates `file` new and empty for writing, failing when anything by that name exists
    // (NO_FILE). On POSIX only this user may read or write it (0600); on Windows it gets the
    // folder's permissions.
    static File createPrivateFile(const std::filesystem::path& file);
    // Writes all of `count` bytes at `offset`.
    static bool writeAt(File file, std::uint64_t offset, const unsigned char* bytes, std::size_t count);
    static void closeFile(File file);
    // Flushes and closes file_ and puts the temporary in place of target_ as commit() describes.
    // On failure the temporary is left for the destructor to remove, unless temporary_ was
    // cleared: its name leads elsewhere, or it holds the only copy of the new MP3.
    bool putInPlace();

    std::filesystem::path target_;
    std::filesystem::path temporary_;
    File file_ = NO_FILE;
    std::uint64_t size_ = 0;   // bytes appended so far
    bool committed_ = false;
    std::wstring whereKept_;
};
