// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A capture source that keeps a take continuous in time where its device goes quiet by
// delivering nothing: a WASAPI loopback stream (what an output plays) has no packets while
// nothing plays. Around such a source this one hands on, while no packet comes, silent packets
// for the time that passes, so the file's length stays the take's time and the views show
// silence rather than stand still. Active only for EndpointKind::SystemSound; any other endpoint
// passes straight through. Portable; capture thread, as every CaptureSource.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "capture/capture_source.h"

class GapFillingSource final : public CaptureSource {
public:
    using Clock = std::chrono::steady_clock;
    // How long the inner source must have delivered nothing before silence stands in for it: a
    // device that merely delivers late or unevenly (a period or a few, 10 ms each on WASAPI) is
    // never padded.
    static constexpr Clock::duration LAG = std::chrono::milliseconds(100);

    explicit GapFillingSource(std::unique_ptr<CaptureSource> inner,
                              std::function<Clock::time_point()> now = Clock::now);

    CaptureResult activateEndpoint(const CaptureEndpoint& endpoint) override;
    CaptureResult getMixFormat(MixFormat& format) override;
    CaptureResult initialize() override { return inner_->initialize(); }
    CaptureResult getCaptureService() override { return inner_->getCaptureService(); }
    CaptureResult start() override;
    // Frames of the inner source's next packet. When it has none and has delivered nothing for
    // more than LAG (since start or its last packet), the silent frames that stand for all the
    // time since then not yet filled: the gap in the sound is as long as the gap between packets.
    CaptureResult getNextPacketSize(std::uint32_t& frames) override;
    CaptureResult getBuffer(const void*& data, std::uint32_t& frames, std::uint32_t& flags) override;
    CaptureResult releaseBuffer(std::uint32_t frames) override;
    void beginDrain() override { inner_->beginDrain(); }
    bool drained() override { return inner_->drained(); }
    CaptureResult stop() override { return inner_->stop(); }

private:
    std::unique_ptr<CaptureSource> inner_;
    std::function<Clock::time_point()> now_;
    bool filling_ = false;          // a system-sound endpoint
    std::int32_t sampleRate_ = 0;
    Clock::time_point lastReal_{};  // start, or the last packet of the inner source
    std::uint64_t filled_ = 0;      // silent frames handed on since lastReal_
    std::uint32_t silence_ = 0;     // the silent packet on offer, frames
};
