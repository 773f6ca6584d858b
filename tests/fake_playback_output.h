// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A scripted output: takes up to `room` frames per poll and plays, at each poll, what had been
// written by the poll before (nothing while `playing` is false); can refuse to open.
#include <functional>
#include <memory>
#include <vector>

#include "capture/playback_output.h"

struct FakeOutputScript {
    std::uint32_t room = 4096;
    bool failOpen = false, playing = true;
    std::function<void(int poll)> onPoll;   // at every poll, before anything else
    int stepBackAt = -1;   // at this poll the count played goes a frame below the one before
    std::int32_t rate = 0, channels = 0;   // what happened
    std::vector<std::int16_t> written;
    bool finished = false, destroyed = false;
};

// The script the factory below hands to the next output; one playback at a time.
inline FakeOutputScript* activeFakeOutput = nullptr;

class FakePlaybackOutput final : public PlaybackOutput {
public:
    explicit FakePlaybackOutput(FakeOutputScript& s) : s_(s) {}
    ~FakePlaybackOutput() override { s_.destroyed = true; }
    CaptureResult open(std::int32_t rate, std::int32_t channels) override {
        s_.rate = rate;
        s_.channels = channels;
        return s_.failOpen ? -1 : 0;
    }
    CaptureResult writableFrames(std::uint32_t& frames) override {
        const int poll = polls_++;
        if (s_.onPoll) s_.onPoll(poll);
        frames = s_.room;
        return 0;
    }
    CaptureResult write(const std::int16_t* samples, std::uint32_t frames) override {
        s_.written.insert(s_.written.end(), samples, samples + std::size_t{frames} * s_.channels);
        return 0;
    }
    CaptureResult playedFrames(std::uint64_t& frames) override {
        frames = s_.playing ? heard_ : 0;
        if (polls_ - 1 == s_.stepBackAt && reported_ > 0) frames = reported_ - 1;
        reported_ = frames;
        heard_ = s_.written.size() / s_.channels;
        return 0;
    }
    CaptureResult finish() override { return s_.finished = true, 0; }

private:
    FakeOutputScript& s_;
    int polls_ = 0;
    std::uint64_t heard_ = 0, reported_ = 0;
};

inline std::unique_ptr<PlaybackOutput> makeFakePlaybackOutput() {
    return std::make_unique<FakePlaybackOutput>(*activeFakeOutput);
}
