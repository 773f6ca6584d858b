// SPDX-License-Identifier: GPL-3.0-or-later
// The portable half of DiskFile: the stream buffer over the platform's file calls.
#include "capture/disk_file.h"

#include <system_error>

#include "app/ws2s.h"

DiskFile::~DiskFile() {
    if (file_ != NO_FILE) closeFile(file_);
}

bool DiskFile::create(const std::wstring& path) {
    const std::filesystem::path name = nativeFilePath(path);   // throws before any file is touched
    if (file_ != NO_FILE) close();
    file_ = createFile(name);
    if (file_ == NO_FILE) return false;
    // Absolute now: the folder to flush at the end is the one the name was made in, whatever the
    // process's current folder is by then (a Save As dialog may change it).
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(name, ec);
    folder_ = (ec ? name : absolute).parent_path();
    if (folder_.empty()) folder_ = ".";
    return true;
}

bool DiskFile::flushToDisk() {
    if (file_ == NO_FILE || !syncFileToDisk(file_)) return false;
    return syncFolderToDisk(folder_);
}

bool DiskFile::close() {
    if (file_ == NO_FILE) return false;
    const bool closed = closeFile(file_);
    file_ = NO_FILE;
    return closed;
}

DiskFile::int_type DiskFile::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char byte = traits_type::to_char_type(c);
    return file_ != NO_FILE && writeAll(file_, &byte, 1) ? c : traits_type::eof();
}

// All or nothing as far as the stream can tell: a short count sets its error state, and the
// bytes that did reach the file are found again by its length (LiveWavFile::finish).
std::streamsize DiskFile::xsputn(const char* bytes, std::streamsize count) {
    if (count <= 0) return 0;
    return file_ != NO_FILE && writeAll(file_, bytes, static_cast<std::size_t>(count)) ? count : 0;
}

DiskFile::pos_type DiskFile::seekoff(off_type offset, std::ios_base::seekdir dir, std::ios_base::openmode) {
    const From from = dir == std::ios_base::beg ? From::Start : dir == std::ios_base::cur ? From::Current : From::End;
    const std::int64_t at = file_ == NO_FILE ? -1 : seekFile(file_, static_cast<std::int64_t>(offset), from);
    return at < 0 ? pos_type(off_type(-1)) : pos_type(static_cast<off_type>(at));
}

DiskFile::pos_type DiskFile::seekpos(pos_type position, std::ios_base::openmode which) {
    return seekoff(off_type(position), std::ios_base::beg, which);
}
