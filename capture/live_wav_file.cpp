// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/live_wav_file.h"

#include <stdexcept>

#include "capture/wav_header.h"

RecordingOutcome finishedOutcome(RecordingOutcome captured, bool headerWritten, bool flushed, bool closed) {
    if (!headerWritten) return RecordingOutcome::WriteFailed;
    return takeComplete(captured) && !(flushed && closed) ? RecordingOutcome::WriteFailed : captured;
}

LiveWavFile::LiveWavFile(std::int32_t channels, std::int32_t sampleRate, std::uint64_t dataLimit)
    : channels_(channels),
      sampleRate_(sampleRate),
      frameBytes_(2 * static_cast<std::uint64_t>(channels)),
      limit_(wholeFrameBytes(dataLimit, channels)),
      refreshBytes_(static_cast<std::uint64_t>(sampleRate) * frameBytes_),
      nextRefresh_(refreshBytes_) {}

RecordingOutcome LiveWavFile::open(const std::wstring& path) {
    try {
        if (!file_.create(path)) return RecordingOutcome::FileCreateFailed;
    } catch (const std::range_error&) {
        return RecordingOutcome::BadFileName;
    }
    writeHeader();
    return stream_ ? RecordingOutcome::Saved : RecordingOutcome::WriteFailed;
}

std::uint32_t LiveWavFile::framesThatFit(std::uint32_t frames) const {
    const std::uint64_t room = (limit_ - dataBytes_) / frameBytes_;
    return room < frames ? static_cast<std::uint32_t>(room) : frames;
}

bool LiveWavFile::refreshHeaderIfDue() {
    // A live device delivers in real time, so this is one positioned 44-byte write a second. A
    // failure leaves the stream in its error state, as any failed write.
    if (stream_ && dataBytes_ >= nextRefresh_) rewriteHeader();
    return static_cast<bool>(stream_);
}

bool LiveWavFile::refreshHeaderNow() {
    if (stream_ && dataBytes_ != headerBytes_) rewriteHeader();
    return static_cast<bool>(stream_);
}

void LiveWavFile::rewriteHeader() {
    stream_.seekp(0, std::ios::beg);
    writeHeader();
    stream_.seekp(0, std::ios::end);
    nextRefresh_ = dataBytes_ - dataBytes_ % refreshBytes_ + refreshBytes_;
}

RecordingOutcome LiveWavFile::finish(RecordingOutcome outcome) {
    stream_.clear();
    if (outcome == RecordingOutcome::WriteFailed || outcome == RecordingOutcome::InternalError) {
        // The stream's own count is unknown after a failed write: ask the file how long it
        // really is and keep the whole frames behind the header.
        stream_.seekp(0, std::ios::end);
        const std::streamoff end = stream_.tellp();
        const std::uint64_t data =
            end < static_cast<std::streamoff>(WAV_HEADER_SIZE) ? 0 : static_cast<std::uint64_t>(end) - WAV_HEADER_SIZE;
        dataBytes_ = data - data % frameBytes_;
        stream_.clear();
    }
    stream_.seekp(0, std::ios::beg);
    writeHeader();
    const bool headerWritten = static_cast<bool>(stream_);
    const bool flushed = file_.flushToDisk();
    const bool closed = file_.close();
    return finishedOutcome(outcome, headerWritten, flushed, closed);
}

void LiveWavFile::writeHeader() {
    writeWavHeader(stream_, sampleRate_, 16, channels_, dataBytes_, false);
    headerBytes_ = dataBytes_;
}
