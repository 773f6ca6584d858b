// SPDX-License-Identifier: GPL-3.0-or-later
// Windows: ReplaceFileW keeps the replaced file's attributes, security descriptor (permissions and
// owner) and creation time on the new contents; a new name is a plain move. Both are retried for
// a while when another program holds one of the files.
#include "export/mp3_destination.h"

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

bool Mp3Destination::createPrivateFile(const std::filesystem::path& file) {
    const HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    CloseHandle(handle);
    return true;
}

namespace {

// Errors of a file that another program holds open for a moment: a virus scanner or the search
// indexer opens a file that has just been closed (our temporary) or written (the old MP3) for a
// few milliseconds, without sharing delete access. ReplaceFileW reports that as one of its own
// errors too, after which both files still have their names.
bool heldByAnother(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_UNABLE_TO_REMOVE_REPLACED || error == ERROR_UNABLE_TO_MOVE_REPLACEMENT;
}

// One attempt. On failure `to` and `from` are as they were, and `retry` says whether another
// attempt may succeed. With a backup name ReplaceFileW keeps the old file under it until the end,
// so a failure half-way (ERROR_UNABLE_TO_MOVE_REPLACEMENT_2: the old file already renamed,
// nothing at `to`) can put it back; without one the old file would be gone.
bool replaceOnce(const std::wstring& from, const std::wstring& to, const std::wstring& backup, bool& retry) {
    const DWORD attributes = GetFileAttributesW(to.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
        retry = heldByAnother(GetLastError());
        return false;
    }
    // Security descriptor errors (a user who may not set the owner) leave the new file with the
    // permissions it inherited, as the POSIX side does.
    if (ReplaceFileW(to.c_str(), from.c_str(), backup.c_str(),
                     REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr, nullptr))
        return true;
    const DWORD error = GetLastError();
    if (error != ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
        retry = heldByAnother(error);
        return false;
    }
    // The temporary could not be moved, most likely held by a scanner; once the old file is
    // back, the next attempt starts from where this one did. If it cannot be put back it stays
    // under the backup name, and nothing is tried again.
    retry = MoveFileExW(backup.c_str(), to.c_str(), 0) != 0;
    return false;
}

}  // namespace

bool Mp3Destination::putInPlace(const std::filesystem::path& from, const std::filesystem::path& to) {
    // Beside the temporary and named after it: ".sonabel-XXXXXX.bak".
    const std::wstring backup = std::filesystem::path(from).replace_extension(L".bak").wstring();
    constexpr ULONGLONG PATIENCE_MS = 1000;
    const ULONGLONG start = GetTickCount64();
    const auto patient = [start] { return GetTickCount64() - start < PATIENCE_MS; };
    for (;;) {
        bool retry = false;
        if (replaceOnce(from.wstring(), to.wstring(), backup, retry)) break;
        if (!retry || !patient()) return false;
        Sleep(20);
    }
    // The old contents, which ReplaceFileW left under the backup name (none after a plain move).
    while (!DeleteFileW(backup.c_str()) && heldByAnother(GetLastError()) && patient()) Sleep(20);
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
