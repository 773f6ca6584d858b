// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Helpers of the tests that run against the private sound server (tests/e2e/with_services.sh).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "app/ws2s.h"
#include "capture/capture_thread.h"
#include "capture/pulse_source.h"
#include "capture/recording_outcome.h"
#include "tests/test_support.h"

// The standard output of a shell command.
inline std::string run(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
    pclose(pipe);
    return out;
}

// Plays a 997 Hz tone of amplitude 0.5 into `sink` in real time for `seconds`, in the background,
// with a low latency: the sink renders (and its monitor sends) ~5 ms pieces.
inline void playTone(const std::string& sink, int seconds) {
    std::system(("(sox -q -n -r 48000 -c 1 -b 16 -e signed -t raw - synth " +
                 std::to_string(seconds) + " sine 997 vol 0.5 | pacat --raw --playback "
                 "--latency-msec=10 --rate=48000 --channels=1 --format=s16le -d " + sink + ") >/dev/null 2>&1 &").c_str());
}

// Polls `done` every 50 ms for up to `seconds`.
template <typename Done>
inline bool within(double seconds, Done done) {
    for (int i = 0; i < seconds * 20; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return done();
}

struct Take {
    RecordingOutcome outcome = RecordingOutcome::InternalError;
    std::uint32_t rate = 0;
    std::uint32_t channels = 0;
    std::vector<std::int16_t> samples;
};

// Records `endpoint` for `seconds` (or until the take ends by itself), `during` called once the
// take records.
template <typename During>
inline Take record(const CaptureEndpoint& endpoint, double seconds, During during) {
    resetSharedState();
    RecordingMessaging messaging;
    TempDir dir;
    setCaptureSourceFactory(makePulseCaptureSource);
    const auto file = dir.file("take.wav");
    std::thread recorder(recordAudioToWav, utf8ToWide(file.string()), nullptr, endpoint);
    within(5, [] { return isRecording.load(); });
    during();
    within(seconds, [&] { return messaging.count(WM_APP_RECORDING_DONE) != 0; });
    isRecording.store(false);
    recorder.join();
    setCaptureSourceFactory(nullptr);
    Take take;
    if (messaging.count(WM_APP_RECORDING_DONE) == 1)
        take.outcome = static_cast<RecordingOutcome>(messaging.posted().back().wParam);
    const auto bytes = readFileBytes(file);
    if (bytes.size() < 44) return take;
    take.channels = bytes[22];
    take.rate = bytes[24] | bytes[25] << 8 | bytes[26] << 16 | static_cast<std::uint32_t>(bytes[27]) << 24;
    const std::uint32_t dataSize = bytes[40] | bytes[41] << 8 | bytes[42] << 16 | static_cast<std::uint32_t>(bytes[43]) << 24;
    EXPECT_EQ(dataSize, bytes.size() - 44) << "a finished header";
    for (std::size_t i = 44; i + 1 < bytes.size(); i += 2)
        take.samples.push_back(static_cast<std::int16_t>(bytes[i] | bytes[i + 1] << 8));
    return take;
}
