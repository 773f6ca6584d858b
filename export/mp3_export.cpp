// SPDX-License-Identifier: GPL-3.0-or-later
#include "export/mp3_export.h"

#include <lame/lame.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <system_error>

#include "app/messaging.h"
#include "app/running_threads.h"
#include "app/ws2s.h"
#include "capture/wav_header.h"
#include "capture/wav_reader.h"
#include "export/mp3_destination.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t CHUNK_SAMPLES = 8192;                 // int16 values read per pass
constexpr std::size_t CHUNK_BYTES = CHUNK_SAMPLES * 2;      // 16384
// One pass hands LAME at most 8192 samples per channel. Full-scale white noise, the worst case
// for VBR, never produced more than ~2.8 KB per call at any MP3 rate, so 8 KB holds a pass with
// room to spare; a refusal (negative count) still ends the export cleanly.
constexpr int MP3_BUFFER_BYTES = 8192;

// MP3 itself runs at 8-48 kHz; LAME resamples anything else, down to a few hertz, with the right
// pitch and length. Below 8000 / 576 (about 13.9 Hz) one source sample becomes more than one
// 576-sample frame at 8 kHz and LAME's flush encodes a frame too many (72 ms too long); at 1 and
// 2 Hz the flush no longer fits the MP3 buffer. Above 384 kHz, the fastest capture devices, a
// rate is a damaged header rather than a recording, and LAME's fixed 32-tap resampling filter
// lets ever more ultrasound fold back into the audible band (a 40 kHz tone at -9 dB at 768 kHz).
constexpr std::uint32_t MIN_SAMPLE_RATE = 14;
constexpr std::uint32_t MAX_SAMPLE_RATE = 384000;

constexpr wchar_t OPEN_FAILED_TEXT[] = L"Failed to open WAV file for MP3 conversion.";
constexpr wchar_t INVALID_WAV_TEXT[] = L"Invalid WAV file format.";
constexpr wchar_t CREATE_FAILED_TEXT[] = L"Failed to create MP3 output file.";
constexpr wchar_t ENCODER_INIT_TEXT[] = L"Failed to initialise the MP3 encoder.";
constexpr wchar_t SAMPLE_RATE_TEXT[] = L"The MP3 encoder cannot take this WAV file's sample rate.";
constexpr wchar_t SAME_FILE_TEXT[] =
    L"Cannot export the recording onto itself. Choose another file name for the MP3.";
constexpr wchar_t READ_FAILED_TEXT[] = L"Failed to read the WAV file.";
constexpr wchar_t ENCODE_FAILED_TEXT[] = L"The MP3 encoder failed on this recording.";
constexpr wchar_t WRITE_FAILED_TEXT[] = L"Failed to write the MP3 file.";
constexpr wchar_t BAD_SOURCE_NAME_TEXT[] =
    L"The recording's file name contains characters that cannot be opened.";
constexpr wchar_t BAD_DESTINATION_NAME_TEXT[] =
    L"The MP3 file name contains characters that cannot be saved. Choose another file name.";

RunningThreads runningExports;

struct LameCloser {
    void operator()(lame_global_flags* gf) const { lame_close(gf); }
};
using LameHandle = std::unique_ptr<lame_global_flags, LameCloser>;

// Everything one export reads into and encodes from, allocated once per export (40 KB, kept off
// the thread's stack).
struct EncodeBuffers {
    std::int16_t chunk[CHUNK_SAMPLES];   // raw file bytes, then the left (or only) channel
    std::int16_t right[CHUNK_SAMPLES];
    unsigned char mp3[MP3_BUFFER_BYTES];
};

// The WAV's samples are little-endian whatever the host; assembling from bytes costs nothing on a
// little-endian CPU (the compiler emits a plain load) and swaps on a big-endian one.
inline std::int16_t littleEndian16(const unsigned char* p) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
}

bool writeAll(Mp3Destination& out, const unsigned char* bytes, int count) {
    return out.write(bytes, static_cast<std::size_t>(count));
}

// Reads the sample data (byte 44 to the end of the file; the header's dataSize is not trusted,
// so a recording whose header still holds the placeholder converts fully) and writes the encoded
// stream to `out`. Reports the part of `total` sample bytes read to `progress`, if any. Returns
// the text to show, or nullptr on success.
const wchar_t* encodeSamples(std::ifstream& in, Mp3Destination& out, lame_global_flags* gf,
                             unsigned channels, EncodeBuffers& buf, std::uint64_t total,
                             ExportProgress* progress) {
    // LAME raises a rate below 8 kHz (and one between two MP3 rates) to the next MP3 rate, so a
    // pass of a 1 kHz source would come out as 8 times as many samples, more than the MP3 buffer
    // holds. Each call gets at most what comes out as CHUNK_SAMPLES samples at the MP3 rate, the
    // case measured for MP3_BUFFER_BYTES; a source at or above its MP3 rate is not split.
    const auto inRate = static_cast<std::uint64_t>(lame_get_in_samplerate(gf));
    const auto outRate = static_cast<std::uint64_t>(lame_get_out_samplerate(gf));
    const std::size_t framesPerCall =
        outRate > inRate ? static_cast<std::size_t>(std::max<std::uint64_t>(1, CHUNK_SAMPLES * inRate / outRate))
                         : CHUNK_SAMPLES;

    // Whole frames per read, so a frame never straddles two passes and nothing is carried over.
    // Stereo and above reads floor(16384 / frame size) frames; mono reads 8192 samples.
    const std::size_t frameBytes = 2 * static_cast<std::size_t>(channels);
    const std::size_t framesPerRead = CHUNK_BYTES / frameBytes;
    const auto readBytes = static_cast<std::streamsize>(framesPerRead * frameBytes);
    const unsigned char* raw = reinterpret_cast<const unsigned char*>(buf.chunk);

    std::uint64_t read = 0;
    int reported = -1;

    std::streamsize got = 0;
    do {
        in.read(reinterpret_cast<char*>(buf.chunk), readBytes);
        got = in.gcount();
        if (in.bad()) return READ_FAILED_TEXT;
        read += static_cast<std::uint64_t>(got);
        // One compare per 16 KB read; the sink hears of each new whole percent only.
        if (progress != nullptr) {
            const int percent = got == 0 ? 100 : std::min(wholePercent(read, total), 99);
            if (percent > reported) progress->progressed(reported = percent);
        }
        // The 1 to frameBytes-1 bytes of an incomplete last frame are dropped.
        const auto frames = static_cast<std::size_t>(got) / frameBytes;
        if (channels >= 2) {
            // Channels 0 and 1 of each frame; the rest (surround) are left out. In place and
            // ascending: frame i is read from byte i*frameBytes >= 4i before chunk[i] (bytes
            // 2i, 2i+1) is written, so no unread byte is overwritten.
            for (std::size_t i = 0; i < frames; ++i) {
                const unsigned char* frame = raw + i * frameBytes;
                buf.right[i] = littleEndian16(frame + 2);
                buf.chunk[i] = littleEndian16(frame);
            }
        } else {
            for (std::size_t i = 0; i < frames; ++i) buf.chunk[i] = littleEndian16(raw + 2 * i);
        }
        for (std::size_t at = 0; at < frames; at += framesPerCall) {
            const auto count = static_cast<int>(std::min(framesPerCall, frames - at));
            const std::int16_t* right = channels >= 2 ? buf.right + at : nullptr;
            const int encoded = lame_encode_buffer(gf, buf.chunk + at, right, count, buf.mp3, MP3_BUFFER_BYTES);
            if (encoded < 0) return ENCODE_FAILED_TEXT;
            if (encoded > 0 && !writeAll(out, buf.mp3, encoded)) return WRITE_FAILED_TEXT;
        }
    } while (got != 0);

    const int flushed = lame_encode_flush(gf, buf.mp3, MP3_BUFFER_BYTES);
    if (flushed < 0) return ENCODE_FAILED_TEXT;
    if (flushed > 0 && !writeAll(out, buf.mp3, flushed)) return WRITE_FAILED_TEXT;

    // LAME opened the stream with a placeholder VBR info (Xing + LAME tag) frame; only now are the
    // frame count, byte count, seek table and encoder delay/padding known. With no ID3 tag asked
    // for, that frame sits at offset 0. Without it players guess the duration from the first
    // frame's bitrate and seek to the wrong place.
    const std::size_t tagBytes = lame_get_lametag_frame(gf, buf.mp3, sizeof buf.mp3);
    if (tagBytes > 0 && tagBytes <= sizeof buf.mp3) {
        if (!out.writeAtStart(buf.mp3, tagBytes)) return WRITE_FAILED_TEXT;
    }
    return nullptr;
}

// Opens the recording and reads its header (capture/wav_reader.h). Returns the text to show, or
// nullptr when `in` is open at the first sample and `header` describes what the recorder writes.
// A frame must fit one read.
const wchar_t* openSource(const std::wstring& source, std::ifstream& in, WAVHeader& header) {
    switch (openRecordedWav(source, in, header, CHUNK_SAMPLES)) {
        case WavReadFailure::None: break;
        case WavReadFailure::BadFileName: return BAD_SOURCE_NAME_TEXT;
        case WavReadFailure::OpenFailed: return OPEN_FAILED_TEXT;
        case WavReadFailure::NotRecorderWav: return INVALID_WAV_TEXT;
    }
    if (header.sampleRate < MIN_SAMPLE_RATE || header.sampleRate > MAX_SAMPLE_RATE) return SAMPLE_RATE_TEXT;
    return nullptr;
}

// Two channels out of anything wider than mono; LAME never gets two channels without a right
// buffer. Only these settings: LAME's default quality, bitrates, mode and tags. Null when LAME
// refuses.
LameHandle newEncoder(const WAVHeader& header) {
    LameHandle gf(lame_init());
    if (!gf) return gf;
    lame_set_in_samplerate(gf.get(), static_cast<int>(header.sampleRate));
    lame_set_num_channels(gf.get(), header.numChannels >= 2 ? 2 : 1);
    lame_set_VBR(gf.get(), vbr_mtrh);
    if (lame_init_params(gf.get()) < 0) gf.reset();
    return gf;
}

// Returns the text to show, or an empty one on success.
std::wstring exportToMp3(const std::wstring& destination, const std::wstring& source,
                         ExportProgress* progress) {
    // Both names are converted before any file is touched.
    fs::path sourcePath;
    fs::path destinationPath;
    try {
        sourcePath = nativeFilePath(source);
    } catch (const std::range_error&) {
        return BAD_SOURCE_NAME_TEXT;
    }
    try {
        destinationPath = nativeFilePath(destination);
    } catch (const std::range_error&) {
        return BAD_DESTINATION_NAME_TEXT;
    }

    std::ifstream in;
    WAVHeader header;
    if (const wchar_t* failure = openSource(source, in, header)) return failure;
    // The rename at the end would put the MP3 in place of the recording. Compared by file
    // identity, since "a/./rec.wav", a link or (on Windows) another letter case all name it.
    std::error_code sameEc;
    if (fs::equivalent(sourcePath, destinationPath, sameEc)) return SAME_FILE_TEXT;
    LameHandle gf = newEncoder(header);
    if (!gf) return ENCODER_INIT_TEXT;

    // A destination that cannot be written (a read-only file among them) is refused now rather
    // than after the encoding.
    Mp3Destination mp3(destinationPath);
    if (!mp3.isOpen()) return CREATE_FAILED_TEXT;
    // Progress is measured against the size the file has now (a take still being recorded grows
    // past it; a pipe has none, and shows 99 % until it ends).
    const std::uint64_t total = wavSampleBytes(source);
    auto buffers = std::make_unique<EncodeBuffers>();
    const wchar_t* failure =
        encodeSamples(in, mp3, gf.get(), header.numChannels, *buffers, total, progress);
    gf.reset();
    in.close();
    if (failure != nullptr) return failure;
    if (mp3.commit()) return {};
    // A replace stopped half-way may leave neither version at the chosen name: the user is told
    // where both are.
    if (mp3.whereKept().empty()) return WRITE_FAILED_TEXT;
    return std::wstring(WRITE_FAILED_TEXT) + L" " + mp3.whereKept();
}

}  // namespace

int wholePercent(std::uint64_t done, std::uint64_t total) {
    if (done >= total) return 100;
    return static_cast<int>(done * 100 / total);   // a file's bytes are far below 2^64 / 100
}

void saveAsMP3(const std::wstring& destination, const std::wstring& source, ExportProgress* progress) {
    // A thread body must not throw; the only thing left to throw here is an allocation failure.
    // The owners above have already closed the files and removed the temporary by now.
    std::wstring failure;
    try {
        failure = exportToMp3(destination, source, progress);
    } catch (const std::exception&) {
        failure = WRITE_FAILED_TEXT;
    }
    if (progress != nullptr) progress->finished(failure.empty());
    if (!failure.empty()) showErrorBox(failure);
}

void noteExportStarted() { runningExports.started(); }
void noteExportFinished() { runningExports.finished(); }
void waitForRunningExports() { runningExports.waitUntilNone(); }
bool exportsRunning() { return runningExports.any(); }
