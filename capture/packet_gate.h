// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// When a capture source that receives audio in pieces hands it on as a packet, and when a
// silent stream counts as lost. Each piece handed on costs the capture thread a packet's work
// (file write, views, level message) and, the views changing, a frame drawn; so pieces are
// gathered to about one fragment. Clock-free: the caller passes the time of each poll, so the
// rule is the same on a server and in a test. Capture thread.
#include <chrono>
#include <cstddef>

enum class PacketDecision {
    Wait,     // nothing to hand on yet
    HandOn,   // hand on everything gathered
    Lost,     // the stream has delivered nothing for too long: its source has gone
};

class PacketGate {
public:
    using Clock = std::chrono::steady_clock;

    // Packets of at least `minPacketBytes`, unless the last one is `maxWait` old; a stream that
    // runs with no new audio for longer than `stallLimit` is lost.
    PacketGate(std::size_t minPacketBytes, Clock::duration maxWait, Clock::duration stallLimit);

    // The stream has started: no packet and no audio yet.
    void start(Clock::time_point now);

    // One poll. `arrived`: bytes received since the last poll; `gathered`: bytes held, not yet
    // handed on (the new ones included). `running` is false while the source is suspended or the
    // stream corked: no audio is due then, so that time never counts towards a stall.
    PacketDecision poll(Clock::time_point now, std::size_t arrived, std::size_t gathered, bool running);

    // Stop was asked at `now`: from then on whatever is gathered goes at once. What the source
    // captured before `now` has come once drainOver: it reaches us with the next piece the server
    // sends, within `maxWait` (PipeWire sends one per graph cycle of a fragment's length, a
    // PulseAudio daemon one as soon as a fragment is full), plus a quarter of it for the
    // scheduling of both.
    void beginDrain(Clock::time_point now);
    bool drainOver(Clock::time_point now) const { return draining_ && now >= drainUntil_; }

private:
    std::size_t minPacketBytes_;
    Clock::duration maxWait_;
    Clock::duration stallLimit_;
    bool draining_ = false;
    Clock::time_point drainUntil_{};
    Clock::time_point lastPacket_{};
    Clock::time_point lastAudio_{};   // last poll that found audio, or found the source stopped
};
