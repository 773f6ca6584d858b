// SPDX-License-Identifier: GPL-3.0-or-later
// PulseAudio backend of CaptureSource: the record stream, which the capture thread polls like a
// WASAPI capture client, on a connection of its own (capture/pulse_connection.h). Every libpulse
// call below is made with the mainloop lock held; callbacks run on the mainloop's thread and only
// signal or count. A capture failure writes nothing to the debug output: the recording's outcome
// reaches the status line.
#include "capture/pulse_source.h"

#include <atomic>
#include <chrono>
#include <climits>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "capture/packet_gate.h"
#include "capture/pulse_connection.h"

namespace {

constexpr CaptureResult PULSE_E_FAIL = INT32_MIN + 0x4005;   // E_FAIL's bit pattern

// Size of the fragments the server sends: 2048 frames at 48 kHz (42.7 ms), in frames of the
// stream's own rate rounded up. PulseAudio runs the source with about this latency
// (PA_STREAM_ADJUST_LATENCY), so the level meter and the live views get audio at least this
// often. PipeWire's pulse server makes it the latency of our stream's node, and the graph runs
// all its nodes at the smallest latency any of them asks for, rounded down to a power of two
// frames. Asking less than the graph's largest quantum (2048 frames at 48 kHz by default) would
// shrink the quantum for every client the moment our stream joins and grow it back when it
// leaves; the other streams of the graph break at both moments. Asking more would not help
// either: the pulse server sends only whole fragments, so some quanta would bring no audio.
constexpr std::uint64_t FRAGMENT_FRAMES_AT_48K = 2048;

// A stream that is ready but gets no audio for this long (beyond the source's own latency: some
// virtual sources deliver blocks of 2 s) has lost its source: under PipeWire a stream nobody
// links (the session manager died, the device went and nothing replaced it) stays ready and
// silent for good. The recording then ends as it does when the server goes away. A suspended
// source (session switch, device reserved by another program) is not lost: it resumes.
std::atomic<std::chrono::milliseconds::rep> stallLimitMs{5000};

class PulseCaptureSource final : public CaptureSource {
public:
    ~PulseCaptureSource() override;

    CaptureResult activateEndpoint(const CaptureEndpoint& endpoint) override;
    CaptureResult getMixFormat(MixFormat& format) override;
    CaptureResult initialize() override;
    CaptureResult getCaptureService() override { return 0; }   // the stream reads directly
    CaptureResult start() override;
    CaptureResult getNextPacketSize(std::uint32_t& frames) override;
    CaptureResult getBuffer(const void*& data, std::uint32_t& frames, std::uint32_t& flags) override;
    CaptureResult releaseBuffer(std::uint32_t frames) override;
    void beginDrain() override;
    bool drained() override;
    CaptureResult stop() override;

private:
    static void signalLoop(pa_stream*, void* loop) {
        pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
    }
    static void onSuspended(pa_stream*, void* self) {
        ++static_cast<PulseCaptureSource*>(self)->suspendChanges_;
    }

    // False once the server went away or the stream failed (lock held).
    bool healthy() const;
    // Moves everything the stream has queued into gathered_ (lock held); the bytes moved, or
    // -1 when the stream failed.
    std::ptrdiff_t gatherQueued();
    // Hands on everything gathered as the next packet.
    void handOnGathered(std::uint32_t& frames);

    PulseConnection server_;
    pa_stream* stream_ = nullptr;
    PulseSourceInfo source_;
    bool haveSource_ = false;
    bool followsDefault_ = true;   // the default input, not a device the user chose
    std::size_t frameBytes_ = 0;
    bool connected_ = false;
    PacketGate gate_{0, {}, {}};
    unsigned suspendChanges_ = 0;   // counted by the suspended callback (mainloop thread, lock held)
    unsigned suspendChangesSeen_ = 0;
    bool lost_ = false;   // the server or the stream failed; what was gathered has been handed on
    std::vector<unsigned char> gathered_;   // received, not yet handed on
    std::vector<unsigned char> packet_;     // the packet handed on, until the next poll
    std::uint32_t packetFrames_ = 0;
};

// The stream goes before the connection (a member, released after this body).
PulseCaptureSource::~PulseCaptureSource() {
    if (stream_ == nullptr) return;
    PulseLock lock(server_.loop());
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_suspended_callback(stream_, nullptr, nullptr);
    if (connected_) pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
}

// A named device (an input, or a sink's monitor for what it plays) or the default source.
CaptureResult PulseCaptureSource::activateEndpoint(const CaptureEndpoint& endpoint) {
    if (!server_.connect("Sonabel")) return PULSE_E_FAIL;
    PulseLock lock(server_.loop());
    haveSource_ = server_.findSource(endpoint.kind == EndpointKind::DefaultInput ? std::string() : endpoint.id, source_);
    followsDefault_ = endpoint.kind == EndpointKind::DefaultInput;
    return haveSource_ ? 0 : PULSE_E_FAIL;
}

CaptureResult PulseCaptureSource::getMixFormat(MixFormat& format) {
    if (!haveSource_) return PULSE_E_FAIL;
    // The source's own rate and channel count; samples are asked for as 32-bit float, which the
    // server converts to whatever the device delivers.
    format = MixFormat{static_cast<std::int32_t>(source_.spec.channels),
                       static_cast<std::int32_t>(source_.spec.rate), SampleEncoding::Float, 32, 32};
    return 0;
}

CaptureResult PulseCaptureSource::initialize() {
    if (!haveSource_) return PULSE_E_FAIL;
    PulseLock lock(server_.loop());
    pa_sample_spec spec{};
    spec.format = PA_SAMPLE_FLOAT32NE;
    spec.rate = source_.spec.rate;
    spec.channels = source_.spec.channels;
    stream_ = pa_stream_new(server_.context(), "Recording", &spec, &source_.map);
    if (stream_ == nullptr) return PULSE_E_FAIL;
    pa_stream_set_state_callback(stream_, signalLoop, server_.loop());
    pa_stream_set_suspended_callback(stream_, onSuspended, this);
    frameBytes_ = pa_frame_size(&spec);
    return 0;
}

CaptureResult PulseCaptureSource::start() {
    if (stream_ == nullptr) return PULSE_E_FAIL;
    PulseLock lock(server_.loop());
    // 1 s of buffering (like the 1 s WASAPI buffer) in fragments of 42.7 ms. Sources with
    // a fixed latency (no dynamic latency) deliver whole blocks of that latency at once - 2 s for
    // some virtual sources - so the buffer holds one such block on top, or a block would
    // overflow it and be lost.
    pa_sample_spec spec = source_.spec;
    spec.format = PA_SAMPLE_FLOAT32NE;
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<std::uint32_t>(pa_usec_to_bytes(PA_USEC_PER_SEC + source_.latency, &spec));
    // Rounded up: a fragment a fraction of a frame short of the quantum would halve it.
    const std::uint64_t fragmentFrames =
        (FRAGMENT_FRAMES_AT_48K * source_.spec.rate + 48000 - 1) / 48000;
    // A packet is at least a fragment less 1/64: a server may round the fragment it sends
    // through microseconds (a frame short) and a resampling graph's pieces vary by a few frames;
    // such a piece is taken alone rather than held back for the next one.
    const std::chrono::microseconds fragmentTime(fragmentFrames * 1000000 / source_.spec.rate);
    const auto stallLimit = std::chrono::milliseconds(stallLimitMs.load()) +
                            std::chrono::microseconds(source_.latency);
    gate_ = PacketGate((fragmentFrames - fragmentFrames / 64) * frameBytes_, fragmentTime,
                       stallLimit);
    attr.fragsize = static_cast<std::uint32_t>(fragmentFrames * frameBytes_);
    attr.tlength = attr.prebuf = attr.minreq = static_cast<std::uint32_t>(-1);
    // A device the user chose is recorded or nothing: the server would otherwise move the stream
    // to another source when this one goes away, and the take would go on from another
    // microphone. Unmoved, the stream fails and the take ends, saved. The default input follows
    // the server's default as it always has.
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY |
                                                      (followsDefault_ ? 0 : PA_STREAM_DONT_MOVE));
    if (pa_stream_connect_record(stream_, source_.name.c_str(), &attr, flags) < 0) return PULSE_E_FAIL;
    connected_ = true;
    for (;;) {
        const pa_stream_state_t state = pa_stream_get_state(stream_);
        if (state == PA_STREAM_READY) {
            gate_.start(std::chrono::steady_clock::now());
            return 0;
        }
        if (!PA_STREAM_IS_GOOD(state)) return PULSE_E_FAIL;
        pa_threaded_mainloop_wait(server_.loop());
    }
}

bool PulseCaptureSource::healthy() const {
    return stream_ != nullptr && server_.good() && pa_stream_get_state(stream_) == PA_STREAM_READY;
}

std::ptrdiff_t PulseCaptureSource::gatherQueued() {
    const std::size_t readable = pa_stream_readable_size(stream_);
    if (readable == static_cast<std::size_t>(-1)) return -1;
    const std::size_t before = gathered_.size();
    while (gathered_.size() - before < readable) {
        const void* data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(stream_, &data, &bytes) < 0) return -1;
        if (bytes == 0) break;
        // Dropped on every path out of here (a failed copy too), before the lock is released.
        struct DropOnExit {
            pa_stream* stream;
            ~DropOnExit() { pa_stream_drop(stream); }
        } drop{stream_};
        // A peeked block is dropped whole, so it is taken whole (nothing arrives while the
        // lock is held: the blocks add up to `readable`). Null data is a hole: silence.
        const std::size_t at = gathered_.size();
        gathered_.resize(at + bytes);   // keeps its capacity from packet to packet
        if (data == nullptr)
            std::memset(gathered_.data() + at, 0, bytes);
        else
            std::memcpy(gathered_.data() + at, data, bytes);
    }
    return static_cast<std::ptrdiff_t>(gathered_.size() - before);
}

void PulseCaptureSource::handOnGathered(std::uint32_t& frames) {
    packet_.swap(gathered_);
    gathered_.clear();
    packetFrames_ = frames = static_cast<std::uint32_t>(packet_.size() / frameBytes_);
}

CaptureResult PulseCaptureSource::getNextPacketSize(std::uint32_t& frames) {
    if (stream_ == nullptr) return PULSE_E_FAIL;
    frames = 0;
    packetFrames_ = 0;
    // One mainloop lock per poll: what is queued is peeked, copied and dropped here, so
    // getBuffer and releaseBuffer need no lock. No block stays peeked once the lock is
    // released: when the server dies, the mainloop thread waits (lock held) for every peeked
    // block of the server's memory to be dropped, and a drop needs the lock.
    PulseLock lock(server_.loop());
    const std::ptrdiff_t arrived = lost_ || !healthy() ? -1 : gatherQueued();
    if (arrived < 0) {
        // The server went away or the stream failed: what had arrived goes to the file first,
        // then the recording ends, as a failed GetNextPacketSize does on WASAPI.
        lost_ = true;
        if (gathered_.empty()) return PULSE_E_FAIL;
        handOnGathered(frames);
        return 0;
    }
    // Time without audio is no stall while the source is suspended or the stream corked; the
    // callback also catches a suspension that began and ended between two polls.
    const bool running = pa_stream_is_suspended(stream_) == 0 && pa_stream_is_corked(stream_) == 0 &&
                         suspendChanges_ == suspendChangesSeen_;
    suspendChangesSeen_ = suspendChanges_;
    switch (gate_.poll(std::chrono::steady_clock::now(), static_cast<std::size_t>(arrived),
                       gathered_.size(), running)) {
        case PacketDecision::HandOn: handOnGathered(frames); return 0;
        case PacketDecision::Lost: return PULSE_E_FAIL;
        case PacketDecision::Wait: return 0;
    }
    return 0;
}

CaptureResult PulseCaptureSource::getBuffer(const void*& data, std::uint32_t& frames,
                                            std::uint32_t& flags) {
    if (stream_ == nullptr) return PULSE_E_FAIL;
    data = packet_.data();
    frames = packetFrames_;
    flags = 0;
    return 0;
}

CaptureResult PulseCaptureSource::releaseBuffer(std::uint32_t) {
    packetFrames_ = 0;
    return 0;
}

void PulseCaptureSource::beginDrain() { gate_.beginDrain(std::chrono::steady_clock::now()); }

bool PulseCaptureSource::drained() {
    if (gate_.drainOver(std::chrono::steady_clock::now())) return true;
    PulseLock lock(server_.loop());
    return lost_ || !healthy();
}

CaptureResult PulseCaptureSource::stop() {
    if (stream_ == nullptr || !connected_) return 0;
    PulseLock lock(server_.loop());
    pa_stream_disconnect(stream_);
    connected_ = false;
    return 0;
}

}  // namespace

std::unique_ptr<CaptureSource> makePulseCaptureSource() {
    return std::make_unique<PulseCaptureSource>();
}

void setPulseStallLimit(std::chrono::milliseconds limit) { stallLimitMs.store(limit.count()); }
