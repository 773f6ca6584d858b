// Windows: ReplaceFileW keeps the replaced file's attributes, security descriptor (permissions and
// owner) and creation time on the new contents; a new name is a plain move.
#include "export/mp3_destination.h"

#include <windows.h>

#include <string>

// Opening follows symbolic links and junctions; the handle's final name is the target's (in the
// extended-length form \\?\C:\...). A dangling link cannot be opened and is left as it is.
std::filesystem::path linkTarget(const std::filesystem::path& file) {
    const HANDLE handle = CreateFileW(file.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return file;
    constexpr DWORD FLAGS = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
    std::wstring name(GetFinalPathNameByHandleW(handle, nullptr, 0, FLAGS), L'\0');
    name.resize(name.empty() ? 0 : GetFinalPathNameByHandleW(handle, name.data(), static_cast<DWORD>(name.size()), FLAGS));
    CloseHandle(handle);
    return name.empty() ? file : std::filesystem::path(name);
}

bool isReadOnlyFile(const std::filesystem::path& file) {
    const DWORD attributes = GetFileAttributesW(file.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
           (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool createNewFile(const std::filesystem::path& file) {
    const HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    CloseHandle(handle);
    return true;
}

bool replaceFile(const std::filesystem::path& from, const std::filesystem::path& to) {
    const DWORD attributes = GetFileAttributesW(to.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        // Security descriptor errors (a user who may not set the owner) leave the new file with
        // the permissions it inherited, as the POSIX side does.
        return ReplaceFileW(to.c_str(), from.c_str(), nullptr,
                            REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr,
                            nullptr) != 0;
    }
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

std::filesystem::path temporaryFolder(const std::filesystem::path& target) {
    const std::wstring raw = target.wstring();
    const auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    if (raw.size() >= 2 && separator(raw[0]) && separator(raw[1]))
        return target.parent_path();   // UNC, device or already extended: left as they are
    std::error_code ec;
    const std::wstring folder = std::filesystem::absolute(target, ec).lexically_normal().parent_path().wstring();
    if (ec || folder.size() < 3 || folder[1] != L':') return target.parent_path();
    return L"\\\\?\\" + folder;
}
