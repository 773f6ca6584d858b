#pragma once
// The file operations of the export's destination side that differ per platform; the build picks
// mp3_destination_posix.cpp or mp3_destination_windows.cpp. All are safe on any thread.
#include <filesystem>

// The file `file` leads to through symbolic links: the MP3 goes there and the links stay, as when
// writing through them. `file` itself when it is no link; on POSIX the missing target of a
// dangling link (created then), on Windows the link itself. Empty for a loop of links.
std::filesystem::path linkTarget(const std::filesystem::path& file);

// True when `file` is an existing file whose contents are not to be replaced: on POSIX no write
// permission for this process or no write bit at all, on Windows the read-only attribute.
bool isReadOnlyFile(const std::filesystem::path& file);

// Creates `file` new and empty, failing when anything by that name exists (never truncates
// another file). On POSIX only this user may read or write it (0600), whatever it is to hold
// later; on Windows it gets the folder's inherited permissions.
bool createNewFile(const std::filesystem::path& file);

// Puts the complete file `from` in place of `to` in one step, so `to` is the old or the new file
// at every moment. When `to` exists its permissions and owner pass to the new contents (the
// owner where this process may set it); otherwise the new contents get a new file's default
// (on POSIX 0666 less the umask, or what the folder's default ACL gives). A file system that
// keeps no permissions leaves them as it makes them. `from` and `to` are in the same folder. On
// failure `to` is as it was and `from` is left for the caller to remove (on Windows, in the rare
// case the old file cannot be put back, it stays beside `from` as ".sonabel-XXXXXX.bak"). On
// Windows a file held open by another program (a virus scanner, the search indexer) is waited
// for, for about a second.
bool replaceFile(const std::filesystem::path& from, const std::filesystem::path& to);

// The folder for the temporary beside `target`, named so that the temporary's short name fits
// wherever `target` fits: on Windows the extended-length form (\\?\C:\...) of a drive path,
// which MAX_PATH (260 characters, the limit of the chosen name) does not bind; elsewhere, and for
// a network path, the folder as it is.
std::filesystem::path temporaryFolder(const std::filesystem::path& target);
