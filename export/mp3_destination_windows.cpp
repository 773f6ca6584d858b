// SPDX-License-Identifier: GPL-3.0-or-later
// Windows: ReplaceFileW keeps the replaced file's attributes, security descriptor (permissions and
// owner) and creation time on the new contents; a new name is a plain move. Both are retried for
// a while when another program holds one of the files. The temporary is flushed to the disk
// before either, and the moves write through.
#include "export/mp3_destination.h"

#include "capture/disk_file.h"

#include <windows.h>

#include <string>

// Opening follows symbolic links and junctions; the handle's final name is the target's (in the
// extended-length form \\?\C:\...). A dangling link cannot be opened and is left as it is.
std::filesystem::path Mp3Destination::resolveTarget(const std::filesystem::path& file) {
    const HANDLE handle = CreateFileW(file.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return file;
    constexpr DWORD FLAGS = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
    std::wstring name(GetFinalPathNameByHandleW(handle, nullptr, 0, FLAGS), L'\0');
    name.resize(name.empty() ? 0 : GetFinalPathNameByHandleW(handle, name.data(), static_cast<DWORD>(name.size()), FLAGS));
    CloseHandle(handle);
    return name.empty() ? file : std::filesystem::path(name);
}

bool Mp3Destination::isReadOnly(const std::filesystem::path& file) {
    const DWORD attributes = GetFileAttributesW(file.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
           (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Readers may share it (a scanner looks at a file while it is written), writers and deleters not.
Mp3Destination::File Mp3Destination::createPrivateFile(const std::filesystem::path& file) {
    const HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    return reinterpret_cast<File>(handle);   // INVALID_HANDLE_VALUE is NO_FILE
}

bool Mp3Destination::writeAt(File file, std::uint64_t offset, const unsigned char* bytes, std::size_t count) {
    const HANDLE handle = reinterpret_cast<HANDLE>(file);
    while (count > 0) {
        // The offset rides in the OVERLAPPED of a synchronous handle; the call still waits.
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        const DWORD piece = static_cast<DWORD>(count < (1u << 30) ? count : (1u << 30));
        DWORD done = 0;
        if (!WriteFile(handle, bytes, piece, &done, &at) || done == 0) return false;
        bytes += done;
        count -= done;
        offset += done;
    }
    return true;
}

void Mp3Destination::closeFile(File file) { CloseHandle(reinterpret_cast<HANDLE>(file)); }

namespace {

constexpr ULONGLONG PATIENCE_MS = 1000;   // how long one step waits for another program

// Errors of a file that another program holds open for a moment: a virus scanner or the search
// indexer opens a file that has just been closed (our temporary) or written (the old MP3) for a
// few milliseconds, without sharing delete access. ReplaceFileW reports that as one of its own
// errors too, after which both files still have their names.
bool heldByAnother(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_UNABLE_TO_REMOVE_REPLACED || error == ERROR_UNABLE_TO_MOVE_REPLACEMENT;
}

// Tries `step` again every 20 ms while it fails on a file held by another program, for up to
// PATIENCE_MS. Each step that may meet a held file has a window of its own, so a replace that
// used up its window still removes its backup.
template <typename Step>
bool patiently(Step step) {
    const ULONGLONG start = GetTickCount64();
    while (!step()) {
        if (!heldByAnother(GetLastError()) || GetTickCount64() - start >= PATIENCE_MS) return false;
        Sleep(20);
    }
    return true;
}

bool moveThrough(const std::wstring& from, const std::wstring& to, DWORD flags) {
    return MoveFileExW(from.c_str(), to.c_str(), flags | MOVEFILE_WRITE_THROUGH) != 0;
}

enum class Outcome { PLACED, FAILED, STRANDED };

// With a backup name ReplaceFileW keeps the old file under it until the end, so a failure
// half-way (ERROR_UNABLE_TO_MOVE_REPLACEMENT_2: the old file already renamed, nothing at `to`)
// can put it back; without one the old file would be gone. ReplaceFileW has no write-through of
// its own (its flag for it is documented as unsupported); the new data was flushed before.
Outcome replace(const std::wstring& from, const std::wstring& to, const std::wstring& backup) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        bool retry = false;
        const DWORD attributes = GetFileAttributesW(to.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            if (moveThrough(from, to, MOVEFILE_REPLACE_EXISTING)) return Outcome::PLACED;
            retry = heldByAnother(GetLastError());
        } else if (ReplaceFileW(to.c_str(), from.c_str(), backup.c_str(),
                                REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr, nullptr)) {
            // Security descriptor errors (a user who may not set the owner) leave the new file
            // with the permissions it inherited, as the POSIX side does.
            return Outcome::PLACED;
        } else if (GetLastError() != ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
            retry = heldByAnother(GetLastError());
        } else if (patiently([&] { return moveThrough(backup, to, 0); })) {
            // The temporary could not be moved, most likely held by a scanner: with the old file
            // back, the next attempt starts from where this one did.
            retry = true;
        } else {
            // The old file cannot be put back: the new MP3 takes the name rather than leave it
            // empty.
            return patiently([&] { return moveThrough(from, to, 0); }) ? Outcome::PLACED : Outcome::STRANDED;
        }
        if (!retry || GetTickCount64() - start >= PATIENCE_MS) return Outcome::FAILED;
        Sleep(20);
    }
}

}  // namespace

bool Mp3Destination::putInPlace() {
    const HANDLE handle = reinterpret_cast<HANDLE>(file_);
    const bool flushed = syncFileToDisk(file_);
    CloseHandle(handle);
    file_ = NO_FILE;
    if (!flushed) return false;
    // Beside the temporary and named after it: ".sonabel-XXXXXX.bak".
    const std::wstring backup = std::filesystem::path(temporary_).replace_extension(L".bak").wstring();
    const Outcome outcome = replace(temporary_.wstring(), target_.wstring(), backup);
    // Neither version at the chosen name, both beside it: the new one is not removed either.
    if (outcome == Outcome::STRANDED) temporary_.clear();
    if (outcome != Outcome::PLACED) return false;
    // The old contents, which ReplaceFileW left under the backup name (none after a plain move).
    patiently([&] { return DeleteFileW(backup.c_str()) != 0; });
    return true;
}

std::filesystem::path Mp3Destination::temporaryFolder(const std::filesystem::path& target) {
    const std::wstring raw = target.wstring();
    const auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    if (raw.size() >= 2 && separator(raw[0]) && separator(raw[1]))
        return target.parent_path();   // UNC, device or already extended: left as they are
    std::error_code ec;
    const std::wstring folder = std::filesystem::absolute(target, ec).lexically_normal().parent_path().wstring();
    if (ec || folder.size() < 3 || folder[1] != L':') return target.parent_path();
    return L"\\\\?\\" + folder;
}
