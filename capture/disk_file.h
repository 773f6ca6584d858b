// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The WAV file of a take as the capture thread writes it, and the one rule by which every file
// this program finishes (a take's WAV, an export's MP3) is forced onto the disk.
//
// DiskFile is an unbuffered stream buffer on the platform's own descriptor (POSIX) or handle
// (Windows): each write reaches the file at once (a crash loses nothing held in the process), a
// failed write is seen at once, and the end of a take flushes exactly the file it wrote, through
// that descriptor, whatever became of its name meanwhile (renamed, or not readable by this user).
// The portable half (disk_file.cpp) is the stream buffer; disk_file_posix.cpp or
// disk_file_windows.cpp, chosen by the build, does the system calls. One thread at a time.
#include <cstdint>
#include <filesystem>
#include <streambuf>
#include <string>

// Forces a file's data and length onto the disk through `file` (a POSIX descriptor or a Windows
// HANDLE): fdatasync, FlushFileBuffers. True when it is there, or when the file system has no
// such thing to do (EINVAL: a file that cannot be flushed); false on an I/O error or any other
// failure. A power cut shortly after a take is "Saved" or an MP3 is in place must not leave an
// empty or short file (XFS, btrfs, ext4 without auto_da_alloc keep new data in memory for
// seconds).
bool syncFileToDisk(std::intptr_t file);
// The same for the folder whose entry names a new or renamed file (on POSIX the name is in the
// folder, not in the file). True when flushed, when the file system cannot flush a folder
// (EINVAL), or when the folder cannot be opened for it (a folder this user may write but not
// read): nothing can be flushed then, and the rename or creation stands as the file system keeps
// it. False on an I/O error. Windows (NTFS) commits a name with the file's metadata: true.
bool syncFolderToDisk(const std::filesystem::path& folder);

class DiskFile final : public std::streambuf {
public:
    DiskFile() = default;
    ~DiskFile() override;
    DiskFile(const DiskFile&) = delete;
    DiskFile& operator=(const DiskFile&) = delete;

    // Creates `path`, or truncates it, for writing. Throws std::range_error, before any file is
    // touched, for a name ws2s cannot convert. False when the file cannot be created.
    bool create(const std::wstring& path);
    bool isOpen() const { return file_ != NO_FILE; }
    // The file's data and length, then the folder its name was created in (syncFileToDisk,
    // syncFolderToDisk). False when either failed, or the file is not open.
    bool flushToDisk();
    // False when the file was not open or the system reported an error on closing (a network
    // file system reports a failed write-back there).
    bool close();

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* bytes, std::streamsize count) override;
    pos_type seekoff(off_type offset, std::ios_base::seekdir dir, std::ios_base::openmode) override;
    pos_type seekpos(pos_type position, std::ios_base::openmode which) override;

private:
    using File = std::intptr_t;        // descriptor or HANDLE
    static constexpr File NO_FILE = -1;  // neither a descriptor nor a handle (INVALID_HANDLE_VALUE)
    enum class From { Start, Current, End };

    // Per platform.
    static File createFile(const std::filesystem::path& name);
    static bool writeAll(File file, const char* bytes, std::size_t count);
    static std::int64_t seekFile(File file, std::int64_t offset, From from);   // -1 on failure
    static bool closeFile(File file);

    File file_ = NO_FILE;
    std::filesystem::path folder_;
};
