// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The WAV file of a recording while it is being written. Unbuffered (capture/disk_file.h), so
// each packet reaches the file in one write and a failed write is seen at once; the header
// follows the data about once a second, so a recording cut off by a crash or a kill is still a
// valid WAV file. Capture thread.
#include <cstdint>
#include <ostream>
#include <string>

#include "capture/disk_file.h"
#include "capture/recording_outcome.h"

// A take's outcome once its file is finished, from `captured` (how the capture ended) and the
// steps of the finish: a header that could not be written turns any outcome into WriteFailed; a
// flush to the disk or a close that failed turns a complete take (takeComplete) into WriteFailed,
// and leaves a take that had already failed as it was.
RecordingOutcome finishedOutcome(RecordingOutcome captured, bool headerWritten, bool flushed, bool closed);

class LiveWavFile {
public:
    // 16-bit PCM of `channels` channels at `sampleRate`, at most `dataLimit` bytes of samples
    // (whole frames of it).
    LiveWavFile(std::int32_t channels, std::int32_t sampleRate, std::uint64_t dataLimit);

    // Creates or truncates `path` and writes a header for no data. Saved when the file is open
    // and the header written; otherwise BadFileName, FileCreateFailed or WriteFailed.
    RecordingOutcome open(const std::wstring& path);

    // How many of `frames` more frames fit under the size limit.
    std::uint32_t framesThatFit(std::uint32_t frames) const;

    // What the packet pipeline appends PCM16 frames to, and the count of sample bytes it keeps.
    std::ostream& stream() { return stream_; }
    std::uint64_t& dataBytes() { return dataBytes_; }

    // After each packet: rewrites the header once per second of audio since the last time.
    // False once the file has failed.
    bool refreshHeaderIfDue();
    // When a pause begins: rewrites the header at once if samples were written since it was last
    // written, so a crash during the pause loses nothing written before it. False once the file
    // has failed.
    bool refreshHeaderNow();

    // Writes the final header, forces the file onto the disk through the descriptor that wrote
    // it and closes it; returns the recording's outcome (finishedOutcome). After a failed write
    // (`outcome` WriteFailed or InternalError) the header gives the whole frames the file really
    // holds. The header refreshes while recording are not flushed: only the end of a take waits
    // for the disk.
    RecordingOutcome finish(RecordingOutcome outcome);

private:
    void writeHeader();
    void rewriteHeader();   // in place, then back to the end for the next packet

    DiskFile file_;
    std::ostream stream_{&file_};
    const std::int32_t channels_;
    const std::int32_t sampleRate_;
    const std::uint64_t frameBytes_;
    const std::uint64_t limit_;          // whole frames only
    const std::uint64_t refreshBytes_;   // one second of audio
    std::uint64_t dataBytes_ = 0;
    std::uint64_t headerBytes_ = 0;      // the data size the header last written gives
    std::uint64_t nextRefresh_;
};
