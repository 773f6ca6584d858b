#include "capture/capture_thread.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <exception>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "app/messaging.h"
#include "app/ws2s.h"
#include "capture/packet_pipeline.h"
#include "capture/recording_outcome.h"
#include "capture/wav_header.h"

namespace {

std::atomic<CaptureSourceFactory> sourceFactory{nullptr};
std::atomic<std::uint64_t> wavDataLimit{WAV_MAX_DATA_BYTES};

constexpr auto POLL_PAUSE = std::chrono::milliseconds(4);

bool formatSupported(const MixFormat& f) {
    if (f.channels <= 0 || f.sampleRate <= 0) return false;
    if (f.encoding == SampleEncoding::Float) return f.containerBits == 32;
    if (f.encoding == SampleEncoding::Pcm)
        return f.containerBits == 16 || f.containerBits == 24 || f.containerBits == 32;
    return false;
}

// Turns one packet into interleaved floats. Float packets are used in place; silence (flag or
// a null buffer) and integer PCM go through `scratch`, which keeps its capacity between packets.
const float* packetAsFloat(const void* data, std::uint32_t frames, std::uint32_t flags,
                           const MixFormat& f, std::vector<float>& scratch) {
    const std::size_t n = static_cast<std::size_t>(frames) * static_cast<std::size_t>(f.channels);
    if (data == nullptr || (flags & CAPTURE_FLAG_SILENT) != 0) {
        scratch.assign(n, 0.0f);
        return scratch.data();
    }
    if (f.encoding == SampleEncoding::Float) return static_cast<const float*>(data);
    scratch.resize(n);
    const auto* bytes = static_cast<const unsigned char*>(data);
    switch (f.containerBits) {
        case 16:
            for (std::size_t i = 0; i < n; ++i) {
                std::int16_t v;
                std::memcpy(&v, bytes + 2 * i, 2);
                scratch[i] = static_cast<float>(v) / 32768.0f;
            }
            break;
        case 24:  // packed little-endian 3-byte samples
            for (std::size_t i = 0; i < n; ++i) {
                const unsigned char* p = bytes + 3 * i;
                std::int32_t v = static_cast<std::int32_t>(
                    static_cast<std::uint32_t>(p[0]) << 8 | static_cast<std::uint32_t>(p[1]) << 16 |
                    static_cast<std::uint32_t>(p[2]) << 24);
                scratch[i] = static_cast<float>(v >> 8) / 8388608.0f;
            }
            break;
        default:  // 32-bit container; 24 valid bits sit left-justified, so one scale fits both
            for (std::size_t i = 0; i < n; ++i) {
                std::int32_t v;
                std::memcpy(&v, bytes + 4 * i, 4);
                scratch[i] = static_cast<float>(static_cast<double>(v) / 2147483648.0);
            }
            break;
    }
    return scratch.data();
}

// After a failed write the stream's own count is unknown: ask the file how long it really is
// and keep the whole frames behind the header.
std::uint64_t bytesOnDisk(std::ofstream& file, std::int32_t channels) {
    file.clear();
    file.seekp(0, std::ios::end);
    const std::streamoff end = file.tellp();
    if (end < static_cast<std::streamoff>(WAV_HEADER_SIZE)) return 0;
    const std::uint64_t frameBytes = 2 * static_cast<std::uint64_t>(channels);
    const std::uint64_t data = static_cast<std::uint64_t>(end) - WAV_HEADER_SIZE;
    return data - data % frameBytes;
}

// Rewrites the header at offset 0 with the data written so far, then moves back to the end for
// the next packet: a recording cut off by a crash or a kill keeps a header that a strict reader
// accepts, with at most the last second of audio beyond its dataSize. A failure leaves the
// stream in its error state, which the caller treats as any failed write.
void refreshHeader(std::ofstream& file, std::int32_t channels, std::uint64_t dataBytes) {
    file.seekp(0, std::ios::beg);
    writeWavHeader(file, globalSampleRate, 16, channels, dataBytes, false);
    file.seekp(0, std::ios::end);
}

// One recording, from the device to the finished file. The source is released (reverse order)
// by its destructor when this returns.
RecordingOutcome record(CaptureSource& source, const std::wstring& path, HWND hwnd) {
    if (captureFailed(source.activateDefaultEndpoint())) return RecordingOutcome::NoDevice;
    MixFormat format;
    if (captureFailed(source.getMixFormat(format))) return RecordingOutcome::NoDevice;
    const std::int32_t captureChannels = format.channels;
    globalSampleRate = format.sampleRate;
    if (!formatSupported(format)) return RecordingOutcome::UnsupportedFormat;
    if (captureFailed(source.initialize()) || captureFailed(source.getCaptureService()) ||
        captureFailed(source.start()))
        return RecordingOutcome::NoDevice;

    std::ofstream file;
    // Unbuffered: each packet is one write straight to the file, so a failed write is seen at
    // once, the file's length tells exactly what reached the disk, and nothing written is left
    // inside the process when it dies. The libraries take the request at different times:
    // libstdc++ (Linux, mingw) only before open, MSVC's only after it (there it is setvbuf on the
    // opened FILE, which must come before any I/O); each ignores the call it does not take. The
    // flush after every packet below holds the guarantee for a library that takes neither.
    file.rdbuf()->pubsetbuf(nullptr, 0);
    try {
        openBinaryForWriting(file, path);
    } catch (const std::range_error&) {
        return RecordingOutcome::BadFileName;
    }
    if (!file.is_open()) return RecordingOutcome::FileCreateFailed;
    file.rdbuf()->pubsetbuf(nullptr, 0);

    writeWavHeader(file, globalSampleRate, 16, captureChannels, 0, false);
    std::uint64_t dataBytesWritten = 0;
    RecordingOutcome outcome = RecordingOutcome::Saved;
    if (!file) {
        outcome = RecordingOutcome::WriteFailed;
    } else {
        isRecording.store(true);
        const std::uint64_t frameBytes = 2 * static_cast<std::uint64_t>(captureChannels);
        const std::uint64_t maxBytes = wavDataLimit.load();
        const std::uint64_t limit = maxBytes - maxBytes % frameBytes;   // whole frames only
        // The header follows the data once per second of audio (which a live device delivers
        // in real time): one positioned 44-byte write each time.
        const std::uint64_t refreshBytes =
            static_cast<std::uint64_t>(globalSampleRate) * frameBytes;
        std::uint64_t nextRefresh = refreshBytes;
        std::vector<float> converted;
        try {
            bool ended = false;
            while (!ended && isRecording.load()) {
                std::uint32_t frames = 0;
                if (captureFailed(source.getNextPacketSize(frames))) break;  // device gone
                while (frames != 0) {
                    const void* data = nullptr;
                    std::uint32_t got = 0;
                    std::uint32_t flags = 0;
                    if (captureFailed(source.getBuffer(data, got, flags))) break;
                    std::uint32_t take = got;
                    const std::uint64_t room = limit - dataBytesWritten;
                    if (static_cast<std::uint64_t>(got) * frameBytes > room) {
                        take = static_cast<std::uint32_t>(room / frameBytes);
                        outcome = RecordingOutcome::SizeLimitReached;
                        ended = true;
                    }
                    if (take > 0) {
                        const float* samples = packetAsFloat(data, take, flags, format, converted);
                        processCapturePacket(samples, take, captureChannels, file,
                                             dataBytesWritten, hwnd);
                        file.flush();
                    }
                    source.releaseBuffer(got);
                    if (file && dataBytesWritten >= nextRefresh) {
                        refreshHeader(file, captureChannels, dataBytesWritten);
                        nextRefresh = dataBytesWritten - dataBytesWritten % refreshBytes +
                                      refreshBytes;
                    }
                    if (!file) {
                        outcome = RecordingOutcome::WriteFailed;
                        ended = true;
                    }
                    if (ended) break;
                    if (captureFailed(source.getNextPacketSize(frames))) break;
                }
                if (!ended) std::this_thread::sleep_for(POLL_PAUSE);
            }
        } catch (const std::exception&) {
            outcome = RecordingOutcome::InternalError;
            file.clear();
        }
    }

    source.stop();
    if (outcome == RecordingOutcome::WriteFailed || outcome == RecordingOutcome::InternalError)
        dataBytesWritten = bytesOnDisk(file, captureChannels);
    file.clear();
    file.seekp(0, std::ios::beg);
    writeWavHeader(file, globalSampleRate, 16, captureChannels, dataBytesWritten, false);
    if (!file) outcome = RecordingOutcome::WriteFailed;
    file.close();
    if (file.fail() && outcome == RecordingOutcome::Saved) outcome = RecordingOutcome::WriteFailed;
    return outcome;
}

}  // namespace

void setCaptureSourceFactory(CaptureSourceFactory factory) { sourceFactory.store(factory); }

void setWavDataLimit(std::uint64_t bytes) { wavDataLimit.store(bytes); }

void recordAudioToWav(std::wstring path, HWND hwnd) {
    recordingThreadActive.store(true);
    RecordingOutcome outcome = RecordingOutcome::NoDevice;
    try {
        const CaptureSourceFactory factory = sourceFactory.load();
        std::unique_ptr<CaptureSource> source = factory ? factory() : nullptr;
        if (source) outcome = record(*source, path, hwnd);
    } catch (const std::exception&) {
        outcome = RecordingOutcome::InternalError;
    }
    recordingThreadActive.store(false);
    postAppMessage(hwnd, WM_APP_RECORDING_DONE, static_cast<std::uintptr_t>(outcome));
}
