// SPDX-License-Identifier: GPL-3.0-or-later
// Windows: ReplaceFileW keeps the replaced file's attributes, security descriptor (permissions and
// owner) and creation time on the new contents; a new name is a plain move. Both are retried for
// a while when another program holds one of the files (what follows a failed step is decided in
// replace_with_backup.cpp). The temporary is flushed to the disk before either, and the moves
// write through.
#include "export/mp3_destination.h"

#include "capture/disk_file.h"

#include <windows.h>

#include <cstdint>
#include <string>

#include "export/replace_with_backup.h"

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

// The replace's file operations as Win32 has them.
class Win32ReplaceSteps final : public ReplaceSteps {
public:
    bool isFile(const std::filesystem::path& path) override {
        const DWORD attributes = GetFileAttributesW(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    }
    FileStep move(const std::filesystem::path& from, const std::filesystem::path& to, bool replaceExisting) override {
        const DWORD flags = MOVEFILE_WRITE_THROUGH | (replaceExisting ? MOVEFILE_REPLACE_EXISTING : 0);
        return MoveFileExW(from.c_str(), to.c_str(), flags) ? FileStep::DONE : failure();
    }
    // With a backup name ReplaceFileW keeps the old file under it until the end, so a failure
    // half-way can put it back; without one the old file would be gone. It has no write-through
    // of its own (its flag for it is documented as unsupported); the new data was flushed before.
    // Security descriptor errors (a user who may not set the owner) leave the new file with the
    // permissions it inherited, as the POSIX side does.
    FileStep replace(const std::filesystem::path& from, const std::filesystem::path& to,
                     const std::filesystem::path& backup) override {
        if (ReplaceFileW(to.c_str(), from.c_str(), backup.c_str(),
                         REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr, nullptr))
            return FileStep::DONE;
        return GetLastError() == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 ? FileStep::HALF_WAY : failure();
    }
    FileStep remove(const std::filesystem::path& path) override {
        return DeleteFileW(path.c_str()) ? FileStep::DONE : failure();
    }
    std::uint64_t nowMs() override { return GetTickCount64(); }
    void pause(unsigned ms) override { Sleep(ms); }

private:
    // Errors of a file that another program holds open for a moment. ReplaceFileW reports that
    // as one of its own errors too, after which both files still have their names.
    static FileStep failure() {
        const DWORD error = GetLastError();
        const bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
                          error == ERROR_LOCK_VIOLATION || error == ERROR_UNABLE_TO_REMOVE_REPLACED ||
                          error == ERROR_UNABLE_TO_MOVE_REPLACEMENT;
        return held ? FileStep::HELD : FileStep::FAILED;
    }
};

}  // namespace

bool Mp3Destination::putInPlace() {
    const HANDLE handle = reinterpret_cast<HANDLE>(file_);
    const bool flushed = syncFileToDisk(file_);
    CloseHandle(handle);
    file_ = NO_FILE;
    if (!flushed) return false;
    // Beside the temporary and named after it: ".sonabel-XXXXXX.bak".
    const std::filesystem::path backup = std::filesystem::path(temporary_).replace_extension(L".bak");
    Win32ReplaceSteps steps;
    const ReplaceOutcome outcome = replaceWithBackup(steps, temporary_, target_, backup);
    if (outcome == ReplaceOutcome::STRANDED) {
        // Neither version at the chosen name, both beside it: the new one is not removed either,
        // and the user learns where they are.
        whereKept_ = strandedNote(backup.parent_path().wstring(), target_.filename().wstring(),
                                  backup.filename().wstring(), temporary_.filename().wstring());
        temporary_.clear();
    }
    return outcome == ReplaceOutcome::PLACED;
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
