// SPDX-License-Identifier: GPL-3.0-or-later
// The PulseAudio capture source against a real server, which the test driver
// (tests/e2e/with_services.sh) starts with a 1 kHz mono float 48 kHz sine as the default source.
#include "capture/pulse_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "capture/capture_thread.h"
#include "capture/recording_outcome.h"
#include "capture/wav_header.h"
#include "app/ws2s.h"
#include "test_support.h"

namespace {

std::string run(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
    pclose(pipe);
    return out;
}

// Makes `name` the default source and waits until the server says it is: PipeWire's session
// manager applies a new default a moment later, and later still for a sink it has just been
// told about. True once it took.
bool setDefaultSource(const std::string& name) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (attempt % 5 == 0) std::system(("pactl set-default-source " + name).c_str());
        if (run("pactl get-default-source") == name + "\n") return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

// Reads about `frames` frames through the source as the capture thread does (poll, then drain).
// Bounded: gives up after a few seconds' worth of polls. `packets`: the packets' frame counts.
std::vector<float> capture(CaptureSource& source, std::size_t frames, int& holes,
                           std::vector<std::uint32_t>* packets = nullptr) {
    std::vector<float> samples;
    holes = 0;
    for (int poll = 0; poll < 2000 && samples.size() < frames; ++poll) {
        std::uint32_t waiting = 0;
        EXPECT_GE(source.getNextPacketSize(waiting), 0);
        while (waiting != 0) {
            const void* data = nullptr;
            std::uint32_t got = 0;
            std::uint32_t flags = 0;
            if (source.getBuffer(data, got, flags) < 0) break;
            EXPECT_LE(got, waiting);   // a fragment never exceeds what was readable
            if (packets != nullptr) packets->push_back(got);
            if (data == nullptr) {
                ++holes;
                samples.insert(samples.end(), got, 0.0f);
            } else {
                const float* f = static_cast<const float*>(data);
                samples.insert(samples.end(), f, f + got);
            }
            source.releaseBuffer(got);
            if (source.getNextPacketSize(waiting) < 0) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(4));
    }
    return samples;
}

std::uint32_t medianOf(std::vector<std::uint32_t> v) {
    if (v.empty()) return 0;
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        const char* old = std::getenv(name);
        had_ = old != nullptr;
        if (had_) old_ = old;
        setenv(name, value, 1);
    }
    ~ScopedEnv() {
        if (had_)
            setenv(name_, old_.c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    bool had_ = false;
    std::string old_;
};

}  // namespace

TEST(PulseSource, MixFormatIsTheDefaultSourcesRateAndChannelsAsFloat) {
    auto source = makePulseCaptureSource();
    ASSERT_GE(source->activateDefaultEndpoint(), 0);
    MixFormat f;
    ASSERT_GE(source->getMixFormat(f), 0);
    EXPECT_EQ(f.channels, 1);
    EXPECT_EQ(f.sampleRate, 48000);
    EXPECT_EQ(f.encoding, SampleEncoding::Float);
    EXPECT_EQ(f.containerBits, 32);
    EXPECT_EQ(f.validBits, 32);

    // Another default source: a two-channel 44.1 kHz sink monitor. The format follows it.
    const std::string module =
        run("pactl load-module module-null-sink sink_name=st44 rate=44100 channels=2");
    ASSERT_FALSE(module.empty());
    if (!setDefaultSource("st44.monitor")) {
        std::system(("pactl unload-module " + module).c_str());
        setDefaultSource("sine");
        GTEST_SKIP() << "the session manager takes no sink monitor as the default source "
                        "(WirePlumber 0.5); checked under PulseAudio";
    }
    // Played into with a low latency, the sink renders (and its monitor sends) ~5 ms pieces.
    std::system("timeout 4 pacat --raw --playback --latency-msec=10 --rate=44100 --channels=2 "
                "--format=s16le -d st44 </dev/zero >/dev/null 2>&1 &");
    auto stereo = makePulseCaptureSource();
    MixFormat g;
    const bool ok = stereo->activateDefaultEndpoint() >= 0 && stereo->getMixFormat(g) >= 0;
    std::vector<float> samples;
    int holes = 0;
    std::vector<std::uint32_t> packets;
    if (ok && stereo->initialize() >= 0 && stereo->start() >= 0)
        samples = capture(*stereo, 4410, holes, &packets);
    stereo.reset();
    const bool sineAgain = setDefaultSource("sine");
    std::system(("pactl unload-module " + module).c_str());
    ASSERT_TRUE(sineAgain);
    ASSERT_TRUE(ok);
    EXPECT_EQ(g.channels, 2);
    EXPECT_EQ(g.sampleRate, 44100);
    EXPECT_GE(samples.size(), 4410u);   // frames of two channels arrive (silence)
    // About whole fragments (2048 frames at 48 kHz, 1882 at 44.1 kHz), not the server's pieces.
    EXPECT_GE(medianOf(packets), 941u);
}

TEST(PulseSource, DeliversTheSineAsFloatPackets) {
    auto source = makePulseCaptureSource();
    ASSERT_GE(source->activateDefaultEndpoint(), 0);
    ASSERT_GE(source->initialize(), 0);
    ASSERT_GE(source->getCaptureService(), 0);
    ASSERT_GE(source->start(), 0);
    // 0.5 s of a 1 kHz tone: about 500 rising zero crossings; clearly not silence. Stretches of
    // silence (a period or more) are left out: a new stream may begin with some until the server
    // has linked it, and PipeWire 1.4's pipe source, which plays the test's sine there, inserts
    // some when its writer falls behind on a busy machine. Read for up to 4 s until 0.5 s of
    // tone came.
    std::vector<float> tone;
    std::vector<std::uint32_t> packets;
    for (int chunk = 0; chunk < 8 && tone.size() < 24000; ++chunk) {
        int holes = 0;
        const std::vector<float> s = capture(*source, 24000, holes, &packets);
        EXPECT_EQ(holes, 0);
        for (std::size_t i = 0; i < s.size() && tone.size() < 24000;) {
            std::size_t quiet = i;
            while (quiet < s.size() && std::fabs(s[quiet]) < 1e-4f) ++quiet;
            if (quiet - i >= 48) {
                i = quiet;
                continue;
            }
            tone.push_back(s[i++]);
        }
    }
    EXPECT_GE(source->stop(), 0);
    EXPECT_GE(medianOf(packets), 1024u);   // about whole fragments: 2048 frames
    ASSERT_GE(tone.size(), 24000u);
    int rising = 0;
    double energy = 0;
    for (std::size_t i = 0; i < 24000; ++i) {
        if (i > 0 && tone[i - 1] < 0.0f && tone[i] >= 0.0f) ++rising;
        energy += static_cast<double>(tone[i]) * tone[i];
    }
    EXPECT_NEAR(rising, 500, 5);
    EXPECT_GT(std::sqrt(energy / 24000), 0.1);
}

TEST(PulseSource, RecordingThroughTheCaptureThreadWritesTheSourcesFormat) {
    resetSharedState();
    RecordingMessaging messaging;
    TempDir dir;
    setCaptureSourceFactory(makePulseCaptureSource);
    const auto file = dir.file("take.wav");
    std::thread recorder(recordAudioToWav, utf8ToWide(file.string()), nullptr);
    // Let it record a little, then stop as the Stop button does.
    for (int i = 0; i < 500 && !isRecording.load(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    isRecording.store(false);
    recorder.join();

    ASSERT_EQ(messaging.count(WM_APP_RECORDING_DONE), 1u);
    EXPECT_EQ(static_cast<RecordingOutcome>(messaging.posted().back().wParam), RecordingOutcome::Saved);
    const auto bytes = readFileBytes(file);
    ASSERT_GT(bytes.size(), 44u);
    auto u32 = [&](std::size_t at) {
        return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
    };
    EXPECT_EQ(bytes[22], 1);            // channels
    EXPECT_EQ(u32(24), 48000u);         // sample rate
    EXPECT_EQ(u32(40), bytes.size() - 44);
    setCaptureSourceFactory(nullptr);
}

TEST(PulseSource, NoReachableServerMeansNoDeviceAndNoFile) {
    ScopedEnv noServer("PULSE_SERVER", "unix:/nonexistent/pulse/native");
    auto source = makePulseCaptureSource();
    EXPECT_LT(source->activateDefaultEndpoint(), 0);
    MixFormat f;
    EXPECT_LT(source->getMixFormat(f), 0);
    source.reset();   // releases a half-made source cleanly

    resetSharedState();
    RecordingMessaging messaging;
    TempDir dir;
    setCaptureSourceFactory(makePulseCaptureSource);
    const auto file = dir.file("never.wav");
    recordAudioToWav(utf8ToWide(file.string()), nullptr);
    setCaptureSourceFactory(nullptr);
    ASSERT_EQ(messaging.count(WM_APP_RECORDING_DONE), 1u);
    EXPECT_EQ(static_cast<RecordingOutcome>(messaging.posted().back().wParam), RecordingOutcome::NoDevice);
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_FALSE(recordingThreadActive.load());
    EXPECT_FALSE(isRecording.load());
}
