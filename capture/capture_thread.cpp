// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/capture_thread.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "analysis/spectrogram_analysis.h"
#include "app/app_state.h"
#include "app/messaging.h"
#include "capture/live_wav_file.h"
#include "capture/packet_pipeline.h"
#include "capture/recording_outcome.h"
#include "capture/sample_conversion.h"
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

// Hands every packet waiting now to the pipeline. Returns false when the source has failed
// (the device went away); `ended` is set when the file failed or is full. `paused` is whether the
// last packet was taken in a pause.
bool takeWaitingPackets(CaptureSource& source, const MixFormat& format, LiveWavFile& wav,
                        HWND hwnd, std::vector<float>& converted, bool& paused, RecordingOutcome& ended) {
    std::uint32_t frames = 0;
    if (captureFailed(source.getNextPacketSize(frames))) return false;
    while (frames != 0) {
        // Each packet is written whole or not at all, as the pause stands when it is taken, so
        // the stretches on either side of a pause join with no gap and no frame twice. The
        // packets of a pause are read and dropped like any other (the source runs on, so the
        // meter still shows the input and Resume is at once, on WASAPI and PulseAudio alike).
        const bool pausedBefore = paused;
        paused = isPaused.load();
        if (paused && !pausedBefore && !wav.refreshHeaderNow()) {
            ended = RecordingOutcome::WriteFailed;
            return true;
        }
        const void* data = nullptr;
        std::uint32_t got = 0;
        std::uint32_t flags = 0;
        // A failed GetBuffer skips nothing for good: the packet comes again on the next pass.
        if (captureFailed(source.getBuffer(data, got, flags))) return true;
        // Nothing is written in a pause, so the size limit cannot be reached in one.
        const std::uint32_t take = paused ? got : wav.framesThatFit(got);
        if (take > 0) {
            bool atFullScale = false;
            const float* samples = packetAsFloat(data, take, flags, format, converted, atFullScale);
            if (paused) {
                showCapturePacketLevel(samples, take, format.channels, hwnd);
            } else {
                // Before the pipeline posts this packet's level update, which shows it.
                if (atFullScale) takeCounters.clipped.store(true);
                processCapturePacket(samples, take, format.channels, wav.stream(), wav.dataBytes(), hwnd);
            }
        }
        source.releaseBuffer(got);
        if (!wav.refreshHeaderIfDue()) {
            ended = RecordingOutcome::WriteFailed;
            return true;
        }
        if (take < got) {
            ended = RecordingOutcome::SizeLimitReached;
            return true;
        }
        if (captureFailed(source.getNextPacketSize(frames))) return false;
    }
    return true;
}

// Polls the source and hands every packet to the pipeline until Stop, the device goes away, the
// file fails or is full, in a pause as out of one. After Stop it goes on until what the device
// captured before the Stop has come (dropped when the take was paused then). Returns Saved for
// Stop, DeviceRemoved for a device that went away while recording.
RecordingOutcome capturePackets(CaptureSource& source, const MixFormat& format, LiveWavFile& wav, HWND hwnd) {
    std::vector<float> converted;
    RecordingOutcome ended = RecordingOutcome::Saved;
    bool paused = false;
    try {
        bool stopping = false;
        for (;;) {
            if (!stopping && !isRecording.load()) {
                stopping = true;
                source.beginDrain();
            }
            if (!takeWaitingPackets(source, format, wav, hwnd, converted, paused, ended)) {
                // The device went away (after a Stop, that is just the end of the take).
                if (!stopping) ended = RecordingOutcome::DeviceRemoved;
                break;
            }
            if (ended != RecordingOutcome::Saved || (stopping && source.drained())) break;
            std::this_thread::sleep_for(POLL_PAUSE);
        }
    } catch (const std::exception&) {
        return RecordingOutcome::InternalError;
    }
    return ended;
}

// One recording, from the device to the finished file. The source is released (reverse order)
// by its destructor when this returns.
RecordingOutcome record(CaptureSource& source, const std::wstring& path, HWND hwnd, const CaptureEndpoint& endpoint) {
    if (captureFailed(source.activateEndpoint(endpoint))) return RecordingOutcome::NoDevice;
    MixFormat format;
    if (captureFailed(source.getMixFormat(format))) return RecordingOutcome::NoDevice;
    globalSampleRate = format.sampleRate;
    if (!formatSupported(format)) return RecordingOutcome::UnsupportedFormat;
    if (captureFailed(source.initialize()) || captureFailed(source.getCaptureService()) ||
        captureFailed(source.start()))
        return RecordingOutcome::NoDevice;

    const std::uint64_t limit = wavDataLimit.load();
    LiveWavFile wav(format.channels, format.sampleRate, limit);
    RecordingOutcome outcome = wav.open(path);
    if (outcome == RecordingOutcome::BadFileName || outcome == RecordingOutcome::FileCreateFailed)
        return outcome;
    if (outcome == RecordingOutcome::Saved) {
        // The activity line's figures, before the first packet posts its level update.
        takeCounters.sampleRate.store(format.sampleRate);
        takeCounters.channels.store(format.channels);
        takeCounters.dataLimit.store(limit);
        takeCounters.dataBytes.store(0);
        takeCounters.clipped.store(false);
        {
            // The spectrogram starts from silence, not from the previous take's last samples.
            std::lock_guard<std::mutex> lock(fftInputMutex);
            spectrogramFeed.clear();
        }
        isRecording.store(true);
        outcome = capturePackets(source, format, wav, hwnd);
    }
    source.stop();
    return wav.finish(outcome);
}

}  // namespace

void setCaptureSourceFactory(CaptureSourceFactory factory) { sourceFactory.store(factory); }

void setWavDataLimit(std::uint64_t bytes) { wavDataLimit.store(bytes); }

void recordAudioToWav(std::wstring path, HWND hwnd, CaptureEndpoint endpoint) {
    recordingThreadActive.store(true);
    RecordingOutcome outcome = RecordingOutcome::NoDevice;
    try {
        const CaptureSourceFactory factory = sourceFactory.load();
        std::unique_ptr<CaptureSource> source = factory ? factory() : nullptr;
        if (source) outcome = record(*source, path, hwnd, endpoint);
    } catch (const std::exception&) {
        outcome = RecordingOutcome::InternalError;
    }
    recordingThreadActive.store(false);
    postAppMessage(hwnd, WM_APP_RECORDING_DONE, static_cast<std::uintptr_t>(outcome));
}
