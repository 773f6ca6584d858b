// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the playback thread needs from an audio output API: a stream to the default output device
// that takes interleaved 16-bit samples (host byte order) at the file's rate and channel count,
// the platform converting them to the device's format. PulseAudio and WASAPI implement it
// thinly; tests fake it. Every call is made on the playback thread that created the output.
// Results are HRESULT-like, as a capture source's: negative means failure.
#include <cstdint>
#include <memory>

#include "capture/capture_source.h"   // CaptureResult, captureFailed

class PlaybackOutput {
public:
    // Stops the sound at once (what is queued is dropped) and releases everything obtained, in
    // reverse order.
    virtual ~PlaybackOutput() = default;
    // Opens a stream to the default output device and starts it. A failure means no device.
    virtual CaptureResult open(std::int32_t sampleRate, std::int32_t channels) = 0;
    // Frames the stream takes now without waiting.
    virtual CaptureResult writableFrames(std::uint32_t& frames) = 0;
    // Queues `frames` frames (at most writableFrames) after those queued before.
    virtual CaptureResult write(const std::int16_t* samples, std::uint32_t frames) = 0;
    // Frames of those written that the device has played so far, by its clock: what the listener
    // has heard. Once finish() was called and everything has been played, all of them.
    virtual CaptureResult playedFrames(std::uint64_t& frames) = 0;
    // No more frames will come: what is queued is played out (also when it is less than the
    // stream waits for before it starts).
    virtual CaptureResult finish() = 0;
};

// Makes the platform's output for the default device. Called on the playback thread.
using PlaybackOutputFactory = std::unique_ptr<PlaybackOutput> (*)();
