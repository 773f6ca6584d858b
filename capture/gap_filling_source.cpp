// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/gap_filling_source.h"

#include <algorithm>
#include <utility>

GapFillingSource::GapFillingSource(std::unique_ptr<CaptureSource> inner, std::function<Clock::time_point()> now)
    : inner_(std::move(inner)), now_(std::move(now)) {}

CaptureResult GapFillingSource::activateEndpoint(const CaptureEndpoint& endpoint) {
    filling_ = endpoint.kind == EndpointKind::SystemSound;
    return inner_->activateEndpoint(endpoint);
}

CaptureResult GapFillingSource::getMixFormat(MixFormat& format) {
    const CaptureResult r = inner_->getMixFormat(format);
    if (!captureFailed(r)) sampleRate_ = format.sampleRate;
    return r;
}

CaptureResult GapFillingSource::start() {
    const CaptureResult r = inner_->start();
    lastReal_ = now_();
    filled_ = 0;
    return r;
}

CaptureResult GapFillingSource::getNextPacketSize(std::uint32_t& frames) {
    silence_ = 0;
    const CaptureResult r = inner_->getNextPacketSize(frames);
    if (captureFailed(r) || !filling_ || sampleRate_ <= 0) return r;
    const Clock::time_point now = now_();
    if (frames != 0) {
        lastReal_ = now;
        filled_ = 0;
        return r;
    }
    const Clock::duration idle = now - lastReal_;
    if (idle <= LAG) return r;
    const std::uint64_t due =
        static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(idle).count()) *
        static_cast<std::uint64_t>(sampleRate_) / 1000000;
    // At most a second at a time: a packet's frame count is 32-bit, and the views move on.
    const std::uint64_t missing = std::min<std::uint64_t>(due - std::min(due, filled_), static_cast<std::uint64_t>(sampleRate_));
    frames = silence_ = static_cast<std::uint32_t>(missing);
    return r;
}

CaptureResult GapFillingSource::getBuffer(const void*& data, std::uint32_t& frames, std::uint32_t& flags) {
    if (silence_ == 0) return inner_->getBuffer(data, frames, flags);
    data = nullptr;
    frames = silence_;
    flags = CAPTURE_FLAG_SILENT;
    return 0;
}

CaptureResult GapFillingSource::releaseBuffer(std::uint32_t frames) {
    if (silence_ == 0) return inner_->releaseBuffer(frames);
    filled_ += frames;
    silence_ = 0;
    return 0;
}
