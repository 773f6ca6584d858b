// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/packet_gate.h"

PacketGate::PacketGate(std::size_t minPacketBytes, Clock::duration maxWait,
                       Clock::duration stallLimit)
    : minPacketBytes_(minPacketBytes), maxWait_(maxWait), stallLimit_(stallLimit) {}

void PacketGate::start(Clock::time_point now) { lastPacket_ = lastAudio_ = now; }

void PacketGate::beginDrain(Clock::time_point now) {
    draining_ = true;
    drainUntil_ = now + maxWait_ + maxWait_ / 4;
}

PacketDecision PacketGate::poll(Clock::time_point now, std::size_t arrived, std::size_t gathered, bool running) {
    if (arrived > 0 || !running) lastAudio_ = now;
    // A short packet goes once the last one is a fragment's time old: a server's pieces vary
    // around the fragment, and one held back for the next would leave the views two fragments
    // without audio.
    if (gathered > 0 &&
        (draining_ || gathered >= minPacketBytes_ || now - lastPacket_ >= maxWait_)) {
        lastPacket_ = now;
        return PacketDecision::HandOn;
    }
    return now - lastAudio_ > stallLimit_ ? PacketDecision::Lost : PacketDecision::Wait;
}
