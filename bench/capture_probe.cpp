// SPDX-License-Identifier: GPL-3.0-or-later
// Records the sound server's default source through the capture thread and the PulseAudio
// source for SECONDS, as the app's Start and Stop do, and reports how the audio arrived: the
// number of packets, the frames they carried and the longest wait between two deliveries (what
// the level meter and the live views have to live with), and how much of the audio captured
// before Stop is missing from the end of the take. For bench/capture_join.sh.
//   sonabel_capture_probe FILE.wav SECONDS
// Prints KEY=VALUE lines; exit status 1 when the recording did not end as "Saved".
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "app/app_state.h"
#include "app/messaging.h"
#include "app/ws2s.h"
#include "capture/capture_thread.h"
#include "capture/pulse_source.h"
#include "capture/recording_outcome.h"

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<int> doneOutcome{-1};

class DoneWatcher final : public PlatformMessaging {
public:
    void postMessage(HWND, unsigned msg, std::uintptr_t wParam, std::intptr_t) override {
        if (msg == WM_APP_RECORDING_DONE) doneOutcome.store(static_cast<int>(wParam));
    }
    void showErrorBox(const std::wstring&) override {}
    void debugLine(const char*) override {}
    bool debugEnabled() override { return false; }
};

// Delivery statistics, written by the capture thread and read after it has been joined.
struct Deliveries {
    Clock::time_point first{};
    Clock::time_point last{};
    double longestGapMs = 0;
    unsigned long long bursts = 0;    // polls that found data after a poll that found none
    unsigned long long packets = 0;
    unsigned long long frames = 0;
    std::uint32_t largestPacket = 0;
    // Earliest moment the first frame can have been captured: the least of (arrival of a packet
    // less the audio up to its end). A packet arrives after its last frame was captured, so
    // this lower envelope is the capture timeline with the smallest delivery delay taken out.
    Clock::time_point firstFrameCaptured = Clock::time_point::max();
    int sampleRate = 0;
};
Deliveries stats;

// The real PulseAudio source, timed at each poll that finds data waiting.
class TimedSource final : public CaptureSource {
public:
    TimedSource() : inner_(makePulseCaptureSource()) {}
    CaptureResult activateEndpoint(const CaptureEndpoint& e) override { return inner_->activateEndpoint(e); }
    CaptureResult getMixFormat(MixFormat& f) override {
        const CaptureResult r = inner_->getMixFormat(f);
        stats.sampleRate = f.sampleRate;
        return r;
    }
    CaptureResult initialize() override { return inner_->initialize(); }
    CaptureResult getCaptureService() override { return inner_->getCaptureService(); }
    CaptureResult start() override { return inner_->start(); }
    CaptureResult getNextPacketSize(std::uint32_t& frames) override {
        const CaptureResult r = inner_->getNextPacketSize(frames);
        if (r >= 0 && frames != 0) {
            const Clock::time_point now = Clock::now();
            if (!waiting_) {
                ++stats.bursts;
                if (stats.packets != 0)
                    stats.longestGapMs = std::max(
                        stats.longestGapMs,
                        std::chrono::duration<double, std::milli>(now - stats.last).count());
                else
                    stats.first = now;
                stats.last = now;
            }
            ++stats.packets;
            stats.frames += frames;
            if (stats.sampleRate > 0) {
                const auto audio = std::chrono::duration_cast<Clock::duration>(
                    std::chrono::duration<double>(static_cast<double>(stats.frames) / stats.sampleRate));
                stats.firstFrameCaptured = std::min(stats.firstFrameCaptured, now - audio);
            }
            stats.largestPacket = std::max(stats.largestPacket, frames);
            waiting_ = true;
        } else {
            waiting_ = false;
        }
        return r;
    }
    CaptureResult getBuffer(const void*& data, std::uint32_t& frames,
                            std::uint32_t& flags) override {
        return inner_->getBuffer(data, frames, flags);
    }
    CaptureResult releaseBuffer(std::uint32_t frames) override {
        return inner_->releaseBuffer(frames);
    }
    void beginDrain() override { inner_->beginDrain(); }
    bool drained() override { return inner_->drained(); }
    CaptureResult stop() override { return inner_->stop(); }

private:
    std::unique_ptr<CaptureSource> inner_;
    bool waiting_ = false;   // the last poll found data: the next one continues the burst
};

std::unique_ptr<CaptureSource> makeTimedSource() { return std::make_unique<TimedSource>(); }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: sonabel_capture_probe FILE.wav SECONDS\n");
        return 2;
    }
    DoneWatcher messaging;
    installPlatformMessaging(&messaging);
    setCaptureSourceFactory(makeTimedSource);
    const auto seconds = std::chrono::duration<double>(std::atof(argv[2]));
    std::thread recorder(recordAudioToWav, utf8ToWide(argv[1]), nullptr, CaptureEndpoint{});
    const Clock::time_point asked = Clock::now();
    while (!isRecording.load() && doneOutcome.load() < 0 &&
           Clock::now() - asked < std::chrono::seconds(10))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const Clock::time_point started = Clock::now();
    while (doneOutcome.load() < 0 && Clock::now() - started < seconds)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const Clock::time_point stopped = Clock::now();
    isRecording.store(false);
    recorder.join();
    installPlatformMessaging(nullptr);

    using Ms = std::chrono::duration<double, std::milli>;
    std::printf("outcome=%d\nstart_ms=%.1f\npackets=%llu\nbursts=%llu\nframes=%llu\n",
                doneOutcome.load(), Ms(started - asked).count(), stats.packets, stats.bursts,
                stats.frames);
    const double meanGap = stats.bursts > 1 ? Ms(stats.last - stats.first).count() /
                                                  static_cast<double>(stats.bursts - 1)
                                            : 0.0;
    std::printf("largest_packet=%u\nlongest_gap_ms=%.1f\nmean_gap_ms=%.1f\n", stats.largestPacket,
                stats.longestGapMs, meanGap);
    // Audio captured before the Stop that the take lacks (negative: it runs on past the Stop).
    if (stats.packets != 0 && stats.sampleRate > 0)
        std::printf("stop_missing_ms=%.1f\n",
                    Ms(stopped - stats.firstFrameCaptured).count() -
                        1000.0 * static_cast<double>(stats.frames) / stats.sampleRate);
    return doneOutcome.load() == static_cast<int>(RecordingOutcome::Saved) ? 0 : 1;
}
