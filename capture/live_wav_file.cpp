// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/live_wav_file.h"

#include <stdexcept>

#include "app/ws2s.h"
#include "capture/wav_header.h"

LiveWavFile::LiveWavFile(std::int32_t channels, std::int32_t sampleRate, std::uint64_t dataLimit)
    : channels_(channels),
      sampleRate_(sampleRate),
      frameBytes_(2 * static_cast<std::uint64_t>(channels)),
      limit_(dataLimit - dataLimit % frameBytes_),
      refreshBytes_(static_cast<std::uint64_t>(sampleRate) * frameBytes_),
      nextRefresh_(refreshBytes_) {}

RecordingOutcome LiveWavFile::open(const std::wstring& path) {
    // Unbuffered: nothing written is left inside the process when it dies, and the file's length
    // tells exactly what reached the disk. The libraries take the request at different times:
    // libstdc++ (Linux, mingw) only before open, MSVC's only after it (there it is setvbuf on the
    // opened FILE, which must come before any I/O); each ignores the call it does not take. The
    // flush after every packet holds the guarantee for a library that takes neither.
    file_.rdbuf()->pubsetbuf(nullptr, 0);
    try {
        openBinaryForWriting(file_, path);
    } catch (const std::range_error&) {
        return RecordingOutcome::BadFileName;
    }
    if (!file_.is_open()) return RecordingOutcome::FileCreateFailed;
    file_.rdbuf()->pubsetbuf(nullptr, 0);
    diskFlush_ = std::make_unique<DiskFlush>(path);
    writeHeader();
    return file_ ? RecordingOutcome::Saved : RecordingOutcome::WriteFailed;
}

std::uint32_t LiveWavFile::framesThatFit(std::uint32_t frames) const {
    const std::uint64_t room = (limit_ - dataBytes_) / frameBytes_;
    return room < frames ? static_cast<std::uint32_t>(room) : frames;
}

bool LiveWavFile::refreshHeaderIfDue() {
    file_.flush();
    // A live device delivers in real time, so this is one positioned 44-byte write a second. A
    // failure leaves the stream in its error state, as any failed write.
    if (file_ && dataBytes_ >= nextRefresh_) {
        file_.seekp(0, std::ios::beg);
        writeHeader();
        file_.seekp(0, std::ios::end);   // back to the end for the next packet
        nextRefresh_ = dataBytes_ - dataBytes_ % refreshBytes_ + refreshBytes_;
    }
    return static_cast<bool>(file_);
}

RecordingOutcome LiveWavFile::finish(RecordingOutcome outcome) {
    file_.clear();
    if (outcome == RecordingOutcome::WriteFailed || outcome == RecordingOutcome::InternalError) {
        // The stream's own count is unknown after a failed write: ask the file how long it
        // really is and keep the whole frames behind the header.
        file_.seekp(0, std::ios::end);
        const std::streamoff end = file_.tellp();
        const std::uint64_t data =
            end < static_cast<std::streamoff>(WAV_HEADER_SIZE) ? 0 : static_cast<std::uint64_t>(end) - WAV_HEADER_SIZE;
        dataBytes_ = data - data % frameBytes_;
        file_.clear();
    }
    file_.seekp(0, std::ios::beg);
    writeHeader();
    if (!file_) outcome = RecordingOutcome::WriteFailed;
    file_.flush();
    const bool complete = outcome == RecordingOutcome::Saved || outcome == RecordingOutcome::SizeLimitReached;
    if (diskFlush_ && diskFlush_->isOpen() && !diskFlush_->flush() && complete)
        outcome = RecordingOutcome::WriteFailed;
    diskFlush_.reset();
    file_.close();
    if (file_.fail() && outcome == RecordingOutcome::Saved) outcome = RecordingOutcome::WriteFailed;
    return outcome;
}

void LiveWavFile::writeHeader() { writeWavHeader(file_, sampleRate_, 16, channels_, dataBytes_, false); }
