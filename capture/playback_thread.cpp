// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/playback_thread.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "analysis/spectrogram_analysis.h"
#include "app/app_state.h"
#include "app/messaging.h"
#include "app/running_threads.h"
#include "capture/packet_pipeline.h"
#include "capture/wav_reader.h"

namespace {

// The output is looked at this often: it holds far more (half a second), so it does not run dry
// on a busy machine, and Stop is heard within this time.
constexpr auto POLL_PAUSE = std::chrono::milliseconds(10);
// A stretch the device has played goes to the views once it is this part of a second (40 ms),
// about as often as a recording's packets come (42.7 ms at 48 kHz).
constexpr std::uint32_t SHOWN_PER_SECOND = 25;
constexpr std::size_t READ_BYTES = 16384;

std::atomic<PlaybackOutputFactory> outputFactory{nullptr};

// Held while a playback shows a stretch and publishes its figures, and by beginPlayback and
// endPlayback while they change playbackSerial: once those return, a playback they ended shows
// nothing more. Taken before the display path's own mutexes, never inside them.
std::mutex feedGate;
// The id of the playback that may show: the last one begun, until endPlayback moves past it.
std::atomic<std::uintptr_t> playbackSerial{0};

std::atomic<std::int32_t> shownRate{0};
std::atomic<std::uint64_t> shownTotal{0};
std::atomic<std::uint64_t> shownPlayed{0};

RunningThreads runningPlaybacks;

bool current(std::uintptr_t id) { return playbackSerial.load() == id; }

// One playback from the open file and output to its end. Playback thread only.
class PlaybackRun {
public:
    PlaybackRun(std::ifstream& in, const WAVHeader& header, std::uint64_t totalFrames,
                PlaybackOutput& output, HWND hwnd, std::uintptr_t id)
        : in_(in), channels_(header.numChannels), rate_(static_cast<std::int32_t>(header.sampleRate)),
          total_(totalFrames), output_(output), hwnd_(hwnd), id_(id),
          framesPerRead_(std::max<std::size_t>(1, READ_BYTES / (2 * channels_))) {}

    PlaybackOutcome run() {
        if (!show(0)) return PlaybackOutcome::Stopped;
        const std::uint64_t shownStep = std::max<std::uint64_t>(1, static_cast<std::uint64_t>(rate_) / SHOWN_PER_SECOND);
        auto lastMove = std::chrono::steady_clock::now();
        std::uint64_t lastPlayed = 0;
        bool finishing = false;
        for (;;) {
            if (!current(id_)) return PlaybackOutcome::Stopped;
            if (!writeWaiting()) return failure_;
            if (ended_ && !finishing) {
                if (captureFailed(output_.finish())) return PlaybackOutcome::DeviceLost;
                finishing = true;
            }
            std::uint64_t played = 0;
            if (captureFailed(output_.playedFrames(played))) return PlaybackOutcome::DeviceLost;
            // Never back: an output may report less than before (WASAPI holds back its last
            // frame until it is heard, also after the buffer ran dry mid-take), and a shown
            // stretch is never shown again.
            played = std::max(std::min(played, written_), lastPlayed);
            const auto now = std::chrono::steady_clock::now();
            if (played != lastPlayed || played == written_) {
                lastPlayed = played;
                lastMove = now;
            } else if (now - lastMove > std::chrono::seconds(PLAYBACK_STALL_SECONDS)) {
                // An output nobody plays: PipeWire leaves a stream without a sink unlinked.
                return played == 0 ? PlaybackOutcome::NoDevice : PlaybackOutcome::DeviceLost;
            }
            const bool done = finishing && played == written_;
            if ((played - shown_ >= shownStep || (done && played > shown_)) && !show(played))
                return PlaybackOutcome::Stopped;
            if (done) return PlaybackOutcome::Finished;
            std::this_thread::sleep_for(POLL_PAUSE);
        }
    }

private:
    // Reads the next block into block_ (host-order samples, whole frames; an incomplete last
    // frame is dropped). False when reading failed; ended_ is set at the end of the file.
    bool readBlock() {
        raw_.resize(framesPerRead_ * 2 * channels_);
        in_.read(reinterpret_cast<char*>(raw_.data()), static_cast<std::streamsize>(raw_.size()));
        if (in_.bad()) return false;
        const std::size_t frames = static_cast<std::size_t>(in_.gcount()) / (2 * channels_);
        block_.resize(frames * channels_);
        for (std::size_t i = 0; i < block_.size(); ++i)
            block_[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(raw_[2 * i] | raw_[2 * i + 1] << 8));
        blockAt_ = 0;
        ended_ = frames == 0;
        return true;
    }

    // Writes as much as the output takes now, keeping the written frames as floats until shown.
    bool writeWaiting() {
        std::uint32_t room = 0;
        if (captureFailed(output_.writableFrames(room))) return fail(PlaybackOutcome::DeviceLost);
        while (room > 0 && !ended_) {
            if (blockAt_ * channels_ == block_.size()) {
                if (!readBlock()) return fail(PlaybackOutcome::ReadFailed);
                continue;
            }
            const auto frames = static_cast<std::uint32_t>(
                std::min<std::size_t>(room, block_.size() / channels_ - blockAt_));
            const std::int16_t* samples = block_.data() + blockAt_ * channels_;
            if (captureFailed(output_.write(samples, frames))) return fail(PlaybackOutcome::DeviceLost);
            // The inverse of the recorder's floatToPCM16 (x 32767, truncated): each sample comes
            // back as the value the take holds, exactly.
            const std::size_t at = unshown_.size();
            unshown_.resize(at + std::size_t{frames} * channels_);   // keeps its capacity
            for (std::size_t i = at; i < unshown_.size(); ++i)
                unshown_[i] = static_cast<float>(samples[i - at]) / 32767.0f;
            blockAt_ += frames;
            written_ += frames;
            room -= frames;
        }
        return true;
    }

    bool fail(PlaybackOutcome outcome) {
        failure_ = outcome;
        return false;
    }

    // Shows the frames played since the last call, then posts the progress, unless this
    // playback has been ended. The first call starts the spectrogram from silence.
    bool show(std::uint64_t played) {
        std::lock_guard<std::mutex> gate(feedGate);
        if (!current(id_)) return false;
        if (played == 0) {
            std::lock_guard<std::mutex> lock(fftInputMutex);
            spectrogramFeed.clear();
        }
        shownRate.store(rate_);
        shownTotal.store(total_);
        shownPlayed.store(played);
        // At most the output's buffer (a fraction of a second) is played between two calls.
        const auto frames = static_cast<std::uint32_t>(played - shown_);
        if (frames == 0) {
            postAppMessage(hwnd_, WM_APP_PLAYBACK_PROGRESS, id_);
        } else {
            showPacket(unshown_.data() + unshownAt_, frames, static_cast<std::int32_t>(channels_), rate_,
                       hwnd_, WM_APP_PLAYBACK_PROGRESS, id_);
        }
        shown_ = played;
        unshownAt_ += std::size_t{frames} * channels_;
        if (unshownAt_ * 2 >= unshown_.size()) {   // moved down now and then, not per stretch
            unshown_.erase(unshown_.begin(), unshown_.begin() + static_cast<std::ptrdiff_t>(unshownAt_));
            unshownAt_ = 0;
        }
        return true;
    }

    std::ifstream& in_;
    const std::size_t channels_;
    const std::int32_t rate_;
    const std::uint64_t total_;
    PlaybackOutput& output_;
    const HWND hwnd_;
    const std::uintptr_t id_;
    const std::size_t framesPerRead_;
    std::vector<unsigned char> raw_;
    std::vector<std::int16_t> block_;   // the block read last
    std::size_t blockAt_ = 0;           // its frames written so far
    bool ended_ = false;                // the file has no more frames
    std::vector<float> unshown_;        // frames written, not yet shown, from unshownAt_
    std::size_t unshownAt_ = 0;
    std::uint64_t written_ = 0;
    std::uint64_t shown_ = 0;
    PlaybackOutcome failure_ = PlaybackOutcome::InternalError;
};

PlaybackOutcome play(const std::wstring& path, HWND hwnd, std::uintptr_t id) {
    std::ifstream in;
    WAVHeader header;
    switch (openRecordedWav(path, in, header, PLAYBACK_MAX_CHANNELS)) {
        case WavReadFailure::None: break;
        case WavReadFailure::BadFileName: return PlaybackOutcome::BadFileName;
        case WavReadFailure::OpenFailed: return PlaybackOutcome::OpenFailed;
        case WavReadFailure::NotRecorderWav: return PlaybackOutcome::NotRecorderWav;
    }
    if (header.sampleRate < PLAYBACK_MIN_RATE || header.sampleRate > PLAYBACK_MAX_RATE)
        return PlaybackOutcome::UnsupportedFormat;
    const PlaybackOutputFactory factory = outputFactory.load();
    std::unique_ptr<PlaybackOutput> output = factory ? factory() : nullptr;
    if (!output || captureFailed(output->open(static_cast<std::int32_t>(header.sampleRate), header.numChannels)))
        return PlaybackOutcome::NoDevice;
    const std::uint64_t totalFrames = wavSampleBytes(path) / (2 * std::uint64_t{header.numChannels});
    return PlaybackRun(in, header, totalFrames, *output, hwnd, id).run();
}

}  // namespace

PlaybackFigures publishedPlaybackFigures() {
    return PlaybackFigures{shownRate.load(), shownTotal.load(), shownPlayed.load()};
}

void setPlaybackOutputFactory(PlaybackOutputFactory factory) { outputFactory.store(factory); }

std::uintptr_t beginPlayback() {
    std::lock_guard<std::mutex> gate(feedGate);
    const std::uintptr_t id = playbackSerial.load() + 1;
    playbackSerial.store(id);
    return id;
}

void endPlayback() {
    std::lock_guard<std::mutex> gate(feedGate);
    playbackSerial.store(playbackSerial.load() + 1);
}

void playWavFile(std::wstring path, HWND hwnd, std::uintptr_t id) {
    PlaybackOutcome outcome = PlaybackOutcome::InternalError;
    try {
        outcome = play(path, hwnd, id);
    } catch (const std::exception&) {
        outcome = PlaybackOutcome::InternalError;
    }
    postAppMessage(hwnd, WM_APP_PLAYBACK_DONE, exportMessageParam(id, static_cast<unsigned>(outcome)));
}

void notePlaybackStarted() { runningPlaybacks.started(); }
void notePlaybackFinished() { runningPlaybacks.finished(); }
void waitForPlaybackThreads() { runningPlaybacks.waitUntilNone(); }
