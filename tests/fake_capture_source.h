// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A scripted capture source: delivers the given packets, one per poll, and can fail any step.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "capture/capture_source.h"
#include "capture/capture_thread.h"

enum class FakeStep { None, Activate, MixFormat, Initialize, Service, Start };

struct FakePacket {
    std::vector<unsigned char> bytes;  // raw packet in the mix format
    std::uint32_t frames = 0;
    std::uint32_t flags = 0;
    bool nullData = false;             // a hole: frames with no buffer
    int pollsBefore = 0;               // polls that find nothing before this packet comes
};

struct FakeScript {
    MixFormat format{1, 48000, SampleEncoding::Float, 32, 32};
    FakeStep failAt = FakeStep::None;
    std::vector<FakePacket> packets;
    // getNextPacketSize fails at the top of the pass that follows this many delivered packets.
    int failNextSizeAtTopAfter = -1;
    // getBuffer fails on this call number (0-based); the packet stays queued.
    int failGetBufferCall = -1;
    // When all packets are delivered, clear isRecording as the Stop button would.
    bool stopWhenDrained = true;
    // Deliver every waiting packet in one drain instead of one packet per pass.
    bool drainAll = false;
    // Stop (isRecording cleared) once this many packets are delivered: the rest are what the
    // device captured before the Stop, delivered while the source drains.
    int stopAfter = -1;

    // Called at every poll, before anything else (to look at the file as a crash would leave it).
    std::function<void()> onPoll;

    // What happened, for the checks.
    CaptureEndpoint endpoint;   // what the capture thread asked for
    std::vector<std::string> calls;
    int released = 0;
    bool destroyed = false;
    bool sawRecordingFlagAtFirstPoll = false;
};

// The script the factory below hands to the next source; one recording at a time.
inline FakeScript* activeFakeScript = nullptr;

class FakeCaptureSource final : public CaptureSource {
public:
    explicit FakeCaptureSource(FakeScript& s) : s_(s) {}
    ~FakeCaptureSource() override { s_.destroyed = true; }

    CaptureResult activateEndpoint(const CaptureEndpoint& endpoint) override {
        s_.endpoint = endpoint;
        return step(FakeStep::Activate, "activate");
    }
    CaptureResult getMixFormat(MixFormat& f) override {
        const CaptureResult r = step(FakeStep::MixFormat, "format");
        if (r >= 0) f = s_.format;
        return r;
    }
    CaptureResult initialize() override { return step(FakeStep::Initialize, "initialize"); }
    CaptureResult getCaptureService() override { return step(FakeStep::Service, "service"); }
    CaptureResult start() override { return step(FakeStep::Start, "start"); }
    CaptureResult stop() override {
        s_.calls.push_back("stop");
        return 0;
    }
    void beginDrain() override { s_.calls.push_back("drain"); }
    bool drained() override { return next_ >= s_.packets.size(); }
    CaptureResult getNextPacketSize(std::uint32_t& frames) override {
        if (s_.onPoll) s_.onPoll();
        if (!polled_) {
            polled_ = true;
            s_.sawRecordingFlagAtFirstPoll = isRecording.load();
        }
        const bool top = atTop_;
        if (next_ < s_.packets.size() && waited_ < s_.packets[next_].pollsBefore) {
            ++waited_;   // a device with nothing to deliver for a while
            frames = 0;
            atTop_ = true;
            return 0;
        }
        if (top && s_.failNextSizeAtTopAfter >= 0 && delivered_ >= s_.failNextSizeAtTopAfter) {
            s_.calls.push_back("size-failed");
            return -0x7FFFFFFF;  // like AUDCLNT_E_DEVICE_INVALIDATED
        }
        if (!top && !s_.drainAll)
            frames = 0;  // one packet per pass
        else
            frames = next_ < s_.packets.size() ? s_.packets[next_].frames : 0;
        atTop_ = frames == 0;  // after 0 the thread sleeps and polls at the top of a new pass
        if (frames == 0 && next_ >= s_.packets.size() && s_.stopWhenDrained) isRecording.store(false);
        return 0;
    }
    CaptureResult getBuffer(const void*& data, std::uint32_t& frames, std::uint32_t& flags) override {
        if (getBufferCalls_++ == s_.failGetBufferCall) {
            atTop_ = true;
            return -1;
        }
        const FakePacket& p = s_.packets.at(next_);
        data = p.nullData ? nullptr : p.bytes.data();
        frames = p.frames;
        flags = p.flags;
        return 0;
    }
    CaptureResult releaseBuffer(std::uint32_t) override {
        ++next_;
        waited_ = 0;
        ++delivered_;
        ++s_.released;
        if (delivered_ == s_.stopAfter) isRecording.store(false);
        return 0;
    }

private:
    CaptureResult step(FakeStep which, const char* name) {
        s_.calls.push_back(name);
        return s_.failAt == which ? -0x7FFFFFF0 : 0;
    }
    FakeScript& s_;
    std::size_t next_ = 0;
    int delivered_ = 0;
    int getBufferCalls_ = 0;
    int waited_ = 0;
    bool polled_ = false;
    bool atTop_ = true;
};

inline std::unique_ptr<CaptureSource> makeFakeCaptureSource() {
    return std::make_unique<FakeCaptureSource>(*activeFakeScript);
}

inline FakePacket floatPacket(const std::vector<float>& samples, std::uint32_t channels,
                              std::uint32_t flags = 0) {
    FakePacket p;
    p.bytes.resize(samples.size() * 4);
    std::memcpy(p.bytes.data(), samples.data(), p.bytes.size());
    p.frames = static_cast<std::uint32_t>(samples.size() / channels);
    p.flags = flags;
    return p;
}
