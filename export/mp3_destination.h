// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where an export's MP3 goes. The MP3 is written to a temporary beside the chosen file and put in
// place of it in one step, so the chosen name holds the old file or the complete new one at every
// moment, never a part. The naming and the clean-up are shared (mp3_destination.cpp); what
// differs per platform (links, permissions, the replace itself) is in the file the build picks:
// mp3_destination_posix.cpp or mp3_destination_windows.cpp. Export thread; one per export.
#include <filesystem>
#include <fstream>

class Mp3Destination {
public:
    // Opens ".sonabel-XXXXXX.tmp" (six random letters and digits, an existing name never
    // reused) in the folder of the file `chosen` leads to: short, so it fits wherever the chosen
    // name fits, and recognisable as an export's leftover should the process be killed mid-way.
    // Private to this user until it is put in place (the recording may be a private one). Not
    // opened when the chosen file is read-only (replacing it by rename would get past its
    // read-only mark), for a loop of links, or when no temporary can be made there.
    explicit Mp3Destination(const std::filesystem::path& chosen);
    // Closes and removes the temporary unless it was committed.
    ~Mp3Destination();
    Mp3Destination(const Mp3Destination&) = delete;
    Mp3Destination& operator=(const Mp3Destination&) = delete;

    bool isOpen() const { return stream_.is_open(); }
    // The temporary's stream, binary.
    std::ofstream& stream() { return stream_; }

    // Closes the temporary and puts it in place of the destination. An existing destination's
    // permissions and owner pass to the new contents (the owner where this process may set it);
    // a new one gets a new file's default (on POSIX 0666 less the umask, or what the folder's
    // default ACL gives). A file system that keeps no permissions leaves them as it makes them.
    // False when the close or the replace failed: the destination is then as it was (on Windows,
    // in the rare case the old file cannot be put back, it stays beside it as
    // ".sonabel-XXXXXX.bak"). On Windows a file held open by another program (a virus scanner,
    // the search indexer) is waited for, for about a second.
    bool commit();

private:
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
    // Creates `file` new and empty, failing when anything by that name exists. On POSIX only
    // this user may read or write it (0600); on Windows it gets the folder's permissions.
    static bool createPrivateFile(const std::filesystem::path& file);
    // Puts the closed `from` in place of `to` as commit() describes; on failure `from` is left
    // for the caller to remove.
    static bool putInPlace(const std::filesystem::path& from, const std::filesystem::path& to);

    std::filesystem::path target_;
    std::filesystem::path temporary_;
    std::ofstream stream_;
    bool committed_ = false;
};
