// SPDX-License-Identifier: GPL-3.0-or-later
// PulseAudio backend of PlaybackOutput: a playback stream to the default sink, on a connection of
// its own (capture/pulse_connection.h), in the file's rate and channel count; the server converts
// and resamples to the sink's. Every libpulse call below is made with the mainloop lock held;
// the state callback runs on the mainloop's thread and only signals. A failure writes nothing to
// the debug output: the playback's outcome reaches the status line.
#include "capture/pulse_playback.h"

#include <chrono>
#include <climits>
#include <cstddef>

#include "capture/pulse_connection.h"

namespace {

constexpr CaptureResult PULSE_E_FAIL = INT32_MIN + 0x4005;   // E_FAIL's bit pattern

// What the stream holds ahead of the device (with PA_STREAM_ADJUST_LATENCY, the whole latency,
// the sink's included; servers grant a little less). A playback thread starved of the CPU on a
// busy machine must not let it run dry: at 200 ms (granted 120 under PipeWire) a stream ran dry
// for one quantum with four busy loops on two cores; at 500 ms, in 16 runs, never. Stop is heard
// at once all the same (disconnecting drops what is queued), the views follow what is heard
// whatever the latency, and half a second lies above the largest quantum PipeWire runs a graph
// at by default (2048 frames at 48 kHz), so joining never shrinks it for the other streams.
constexpr pa_usec_t TARGET_LATENCY_USEC = 500 * PA_USEC_PER_MSEC;

class PulsePlaybackOutput final : public PlaybackOutput {
public:
    PulsePlaybackOutput() = default;
    ~PulsePlaybackOutput() override;
    PulsePlaybackOutput(const PulsePlaybackOutput&) = delete;
    PulsePlaybackOutput& operator=(const PulsePlaybackOutput&) = delete;

    CaptureResult open(std::int32_t sampleRate, std::int32_t channels) override;
    CaptureResult writableFrames(std::uint32_t& frames) override;
    CaptureResult write(const std::int16_t* samples, std::uint32_t frames) override;
    CaptureResult playedFrames(std::uint64_t& frames) override;
    CaptureResult finish() override;

private:
    static void signalLoop(pa_stream*, void* loop) {
        pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
    }
    // False once the server went away or the stream failed (lock held).
    bool healthy() const {
        return stream_ != nullptr && server_.good() && pa_stream_get_state(stream_) == PA_STREAM_READY;
    }

    PulseConnection server_;
    pa_stream* stream_ = nullptr;
    bool connected_ = false;
    pa_operation* drain_ = nullptr;   // finish(): plays out what is queued, however little
    bool drained_ = false;            // the drain was acknowledged; all is heard at heardAt_
    std::chrono::steady_clock::time_point heardAt_{};
    std::size_t frameBytes_ = 0;
    std::uint64_t rate_ = 0;
    std::uint64_t written_ = 0;
};

// The stream goes before the connection (a member, released after this body); disconnecting
// drops what is queued, so the sound stops now.
PulsePlaybackOutput::~PulsePlaybackOutput() {
    if (stream_ == nullptr) return;
    PulseLock lock(server_.loop());
    if (drain_ != nullptr) {
        pa_operation_cancel(drain_);
        pa_operation_unref(drain_);
    }
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    if (connected_) pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
}

CaptureResult PulsePlaybackOutput::open(std::int32_t sampleRate, std::int32_t channels) {
    if (!server_.connect("Sonabel")) return PULSE_E_FAIL;
    PulseLock lock(server_.loop());
    pa_sample_spec spec{};
    spec.format = PA_SAMPLE_S16NE;
    spec.rate = static_cast<std::uint32_t>(sampleRate);
    spec.channels = static_cast<std::uint8_t>(channels);
    if (channels <= 0 || channels > static_cast<std::int32_t>(PA_CHANNELS_MAX) || pa_sample_spec_valid(&spec) == 0)
        return PULSE_E_FAIL;
    // A WAV file's channels are in the WAVE_FORMAT_EXTENSIBLE order (FL, FR, FC, LFE, ...).
    pa_channel_map map;
    pa_channel_map_init_extend(&map, spec.channels, PA_CHANNEL_MAP_WAVEEX);
    stream_ = pa_stream_new(server_.context(), "Playback", &spec, &map);
    if (stream_ == nullptr) return PULSE_E_FAIL;
    pa_stream_set_state_callback(stream_, signalLoop, server_.loop());
    frameBytes_ = pa_frame_size(&spec);
    rate_ = spec.rate;

    // The server's defaults but the length: it waits for a full buffer before it starts (and
    // again after running dry, so nothing is skipped), and asks for more as it plays.
    pa_buffer_attr attr{};
    attr.maxlength = attr.prebuf = attr.minreq = attr.fragsize = static_cast<std::uint32_t>(-1);
    attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(TARGET_LATENCY_USEC, &spec));
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE |
                                                      PA_STREAM_ADJUST_LATENCY);
    if (pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) < 0) return PULSE_E_FAIL;
    connected_ = true;
    for (;;) {
        const pa_stream_state_t state = pa_stream_get_state(stream_);
        if (state == PA_STREAM_READY) return 0;
        if (!PA_STREAM_IS_GOOD(state)) return PULSE_E_FAIL;   // no sink, among others
        pa_threaded_mainloop_wait(server_.loop());
    }
}

CaptureResult PulsePlaybackOutput::writableFrames(std::uint32_t& frames) {
    frames = 0;
    PulseLock lock(server_.loop());
    if (!healthy()) return PULSE_E_FAIL;
    const std::size_t bytes = pa_stream_writable_size(stream_);
    if (bytes == static_cast<std::size_t>(-1)) return PULSE_E_FAIL;
    frames = static_cast<std::uint32_t>(bytes / frameBytes_);
    return 0;
}

CaptureResult PulsePlaybackOutput::write(const std::int16_t* samples, std::uint32_t frames) {
    PulseLock lock(server_.loop());
    if (!healthy()) return PULSE_E_FAIL;
    // No free callback: libpulse copies the samples.
    if (pa_stream_write(stream_, samples, frames * frameBytes_, nullptr, 0, PA_SEEK_RELATIVE) < 0)
        return PULSE_E_FAIL;
    written_ += frames;
    return 0;
}

CaptureResult PulsePlaybackOutput::playedFrames(std::uint64_t& frames) {
    frames = 0;
    PulseLock lock(server_.loop());
    if (!healthy()) return PULSE_E_FAIL;
    // Once draining, the timing is asked for at every poll (the automatic updates come only every
    // second or so, and the interpolation stops when the stream runs dry). Disconnecting as soon
    // as the drain is acknowledged would cut off the last frames, up to the sink's latency of
    // them: the sink drops what it has not played yet.
    if (drain_ != nullptr) {
        // Acknowledged once the sink holds the last frames in its buffer, whose latency then says
        // when they are heard; the stream's time never gets there by itself (the sink goes on
        // filling its buffer, with silence, and the time counts back from the buffer's end).
        const auto now = std::chrono::steady_clock::now();
        if (!drained_ && pa_operation_get_state(drain_) == PA_OPERATION_DONE) {
            const pa_timing_info* timing = pa_stream_get_timing_info(stream_);
            drained_ = true;
            heardAt_ = now + std::chrono::microseconds(timing ? timing->sink_usec + timing->transport_usec : 0);
        }
        if (drained_ && now >= heardAt_) {
            frames = written_;
            return 0;
        }
        pa_operation_unref(pa_stream_update_timing_info(stream_, nullptr, nullptr));
    }
    // The time of the frame the sink plays now (its latency taken off), interpolated between the
    // server's timing updates; none yet before the first one. Rounded to the nearest frame: the
    // time is whole microseconds, rounded down from the frames the server counts.
    pa_usec_t time = 0;
    const int got = pa_stream_get_time(stream_, &time);
    if (got == -PA_ERR_NODATA) return 0;
    if (got < 0) return PULSE_E_FAIL;
    frames = (time * rate_ + PA_USEC_PER_SEC / 2) / PA_USEC_PER_SEC;
    return 0;
}

CaptureResult PulsePlaybackOutput::finish() {
    PulseLock lock(server_.loop());
    if (!healthy()) return PULSE_E_FAIL;
    // A drain also starts a stream that has not yet got its full buffer (a short take), and
    // keeps the stream from waiting to fill it again when it runs dry at the end.
    if (drain_ == nullptr) drain_ = pa_stream_drain(stream_, nullptr, nullptr);
    return drain_ != nullptr ? 0 : PULSE_E_FAIL;
}

}  // namespace

std::unique_ptr<PlaybackOutput> makePulsePlaybackOutput() {
    return std::make_unique<PulsePlaybackOutput>();
}
