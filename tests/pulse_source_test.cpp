// SPDX-License-Identifier: GPL-3.0-or-later
// The PulseAudio capture source against a real server, which the test driver
// (tests/e2e/with_services.sh) starts with a 1 kHz mono float 48 kHz sine as the default source.
#include "capture/pulse_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "capture/capture_thread.h"
#include "capture/packet_pipeline.h"
#include "capture/playback_thread.h"
#include "capture/pulse_playback.h"
#include "capture/recording_outcome.h"
#include "capture/wav_header.h"
#include "app/ws2s.h"
#include "test_support.h"
#include "tests/pulse_test_support.h"

namespace {

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

// Reads about `frames` frames of `channels` channels through the source as the capture thread
// does (poll, then drain). Bounded: gives up after a few seconds' worth of polls. `packets`: the
// packets' frame counts.
std::vector<float> capture(CaptureSource& source, std::size_t frames, std::uint32_t channels = 1,
                           std::vector<std::uint32_t>* packets = nullptr) {
    std::vector<float> samples;
    for (int poll = 0; poll < 2000 && samples.size() < frames * channels; ++poll) {
        std::uint32_t waiting = 0;
        EXPECT_GE(source.getNextPacketSize(waiting), 0);
        while (waiting != 0) {
            const void* data = nullptr;
            std::uint32_t got = 0;
            std::uint32_t flags = 0;
            if (source.getBuffer(data, got, flags) < 0) break;
            EXPECT_LE(got, waiting);   // a fragment never exceeds what was readable
            if (packets != nullptr) packets->push_back(got);
            const float* f = static_cast<const float*>(data);
            samples.insert(samples.end(), f, f + std::size_t{got} * channels);
            source.releaseBuffer(got);
            if (source.getNextPacketSize(waiting) < 0) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(4));
    }
    return samples;
}


// A null sink named `name` whose monitor becomes the default source; the sine again and the
// sink gone when it ends. ok() is false where the session manager refuses a monitor as the
// default source (WirePlumber 0.5): the test then skips.
class MonitorSource {
public:
    explicit MonitorSource(const std::string& name, const std::string& format = "rate=48000 channels=1")
        : module_(run("pactl load-module module-null-sink sink_name=" + name + " " + format)) {
        ok_ = !module_.empty() && setDefaultSource(name + ".monitor");
        if (!ok_) release();   // the monitor may still become the default later: gone at once
    }
    ~MonitorSource() { release(); }
    void release() {
        if (!module_.empty()) std::system(("pactl unload-module " + module_).c_str());
        module_.clear();
        setDefaultSource("sine");
    }
    bool ok() const { return ok_; }

private:
    std::string module_;
    bool ok_ = false;
};

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
    ASSERT_GE(source->activateEndpoint({}), 0);
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
    const bool ok = stereo->activateEndpoint({}) >= 0 && stereo->getMixFormat(g) >= 0;
    std::vector<float> samples;
    std::vector<std::uint32_t> packets;
    if (ok && stereo->initialize() >= 0 && stereo->start() >= 0)
        samples = capture(*stereo, 4410, 2, &packets);
    stereo.reset();
    const bool sineAgain = setDefaultSource("sine");
    std::system(("pactl unload-module " + module).c_str());
    ASSERT_TRUE(sineAgain);
    ASSERT_TRUE(ok);
    EXPECT_EQ(g.channels, 2);
    EXPECT_EQ(g.sampleRate, 44100);
    EXPECT_GE(samples.size(), 2 * 4410u);   // frames of two channels arrive (silence)
    // About whole fragments (2048 frames at 48 kHz, 1882 at 44.1 kHz), not the server's pieces.
    EXPECT_GE(medianOf(packets), 941u);
}

TEST(PulseSource, DeliversTheToneAsFloatPackets) {
    // A daemon's sine source delivers blocks of 2 s, one packet for the whole check: a tone in
    // real time through a sink monitor has boundaries to check. Where the session manager takes
    // no monitor (WirePlumber 0.5), the default 1 kHz sine, whose boundaries are not checked:
    // PipeWire 1.4's pipe source breaks its phase itself (parecord's recording as often as ours).
    MonitorSource monitor("tone");
    const double hz = monitor.ok() ? 997 : 1000;
    if (monitor.ok()) playTone("tone", 10);
    auto source = makePulseCaptureSource();
    ASSERT_GE(source->activateEndpoint({}), 0);
    ASSERT_GE(source->initialize(), 0);
    ASSERT_GE(source->getCaptureService(), 0);
    ASSERT_GE(source->start(), 0);
    // No packet is lost, repeated or reordered: at every boundary between two packets the
    // tone goes on in phase, x[n+1] = 2 cos(w) x[n] - x[n-1] for a sine of angular step w (a
    // packet of 2048 frames dropped or repeated moves the phase by 240 degrees or more).
    // Boundaries next to silence are left out: a new stream may begin with some until the
    // server has linked it, and a player that falls behind on a busy machine inserts some.
    // Read for up to 4 s until 0.5 s came.
    std::vector<float> s;
    std::vector<std::uint32_t> packets;
    for (int chunk = 0; chunk < 8 && s.size() < 24000; ++chunk) {
        const std::vector<float> more = capture(*source, 24000 - s.size(), 1, &packets);
        s.insert(s.end(), more.begin(), more.end());
    }
    // Stop 20 ms after a packet: what was gathered since, and what the server still held, is
    // handed on before the source says it is drained: at least the 20 ms, going on with the tone
    // (its boundaries are checked with the others below).
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    source->beginDrain();
    const std::size_t beforeStop = s.size();
    while (!source->drained()) {
        std::uint32_t frames = 0;
        ASSERT_GE(source->getNextPacketSize(frames), 0);
        const void* data = nullptr;
        std::uint32_t flags = 0;
        if (frames != 0 && source->getBuffer(data, frames, flags) >= 0) {
            const float* f = static_cast<const float*>(data);
            s.insert(s.end(), f, f + frames);
            packets.push_back(frames);
            source->releaseBuffer(frames);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(4));
    }
    EXPECT_GE(s.size() - beforeStop, 960u);
    EXPECT_GE(source->stop(), 0);
    EXPECT_GE(medianOf(packets), 1024u);   // about whole fragments: 2048 frames
    ASSERT_GE(s.size(), 24000u);
    const double twoCos = 2 * std::cos(2 * M_PI * hz / 48000);
    int checked = 0;
    std::size_t at = 0;
    for (const std::uint32_t frames : packets) {
        at += frames;
        if (at < 3 || at + 2 > s.size()) continue;
        const bool quiet = std::fabs(s[at - 2]) + std::fabs(s[at - 1]) < 1e-3 ||
                           std::fabs(s[at]) + std::fabs(s[at + 1]) < 1e-3;
        if (quiet || !monitor.ok()) continue;
        ++checked;
        EXPECT_NEAR(s[at], twoCos * s[at - 1] - s[at - 2], 2e-3) << "packet boundary at " << at;
    }
    if (monitor.ok()) {
        EXPECT_GE(checked, 4);
    }
    double energy = 0;
    for (std::size_t i = 0; i < 24000; ++i) energy += static_cast<double>(s[i]) * s[i];
    EXPECT_GT(std::sqrt(energy / 24000), 0.1);
}

TEST(PulseSource, RecordingThroughTheCaptureThreadWritesTheSourcesFormat) {
    const Take take = record({}, 0.3, [] {});
    EXPECT_EQ(take.outcome, RecordingOutcome::Saved);
    EXPECT_EQ(take.channels, 1u);
    EXPECT_EQ(take.rate, 48000u);
    EXPECT_GT(take.samples.size(), 0u);
}

// Suspended for three times the stall limit in the middle of a take: the take goes on after the
// resume and ends at Stop, with what came after the resume in the file.
TEST(PulseSource, ASuspendedSourceIsNotLost) {
    if (run("pactl info").find("PipeWire") != std::string::npos)
        GTEST_SKIP() << "after a suspend PipeWire's sink monitor gives every recording silence "
                        "(parecord too); checked under PulseAudio";
    MonitorSource monitor("held");
    if (!monitor.ok()) GTEST_SKIP() << "the session manager takes no sink monitor as the default source";
    playTone("held", 20);
    setPulseStallLimit(std::chrono::milliseconds(1000));
    std::size_t endedWhileSuspended = 0;
    const Take take = record({}, 1.5, [&] {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        std::system("pactl suspend-sink held 1");
        std::this_thread::sleep_for(std::chrono::seconds(3));
        endedWhileSuspended = recordingThreadActive.load() ? 0 : 1;
        std::system("pactl suspend-sink held 0");
    });
    setPulseStallLimit(std::chrono::milliseconds(5000));
    EXPECT_EQ(endedWhileSuspended, 0u);
    EXPECT_EQ(take.outcome, RecordingOutcome::Saved);
    // More than the second before the suspension: the audio after the resume is in the file
    // (not its tone: in a slow ThreadSanitizer run on Debian 13 the player stayed silent after it).
    EXPECT_GE(take.samples.size(), 60000u);
}

TEST(PulseSource, NoReachableServerMeansNoDeviceAndNoFile) {
    ScopedEnv noServer("PULSE_SERVER", "unix:/nonexistent/pulse/native");
    auto source = makePulseCaptureSource();
    EXPECT_LT(source->activateEndpoint({}), 0);
    MixFormat f;
    EXPECT_LT(source->getMixFormat(f), 0);
    source.reset();   // releases a half-made source cleanly

    resetSharedState();
    RecordingMessaging messaging;
    TempDir dir;
    setCaptureSourceFactory(makePulseCaptureSource);
    const auto file = dir.file("never.wav");
    recordAudioToWav(utf8ToWide(file.string()), nullptr, {});
    setCaptureSourceFactory(nullptr);
    ASSERT_EQ(messaging.count(WM_APP_RECORDING_DONE), 1u);
    EXPECT_EQ(static_cast<RecordingOutcome>(messaging.posted().back().wParam), RecordingOutcome::NoDevice);
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_FALSE(recordingThreadActive.load());
    EXPECT_FALSE(isRecording.load());
}

// A take played through the default sink (a null sink made for it) reaches the sink's monitor as
// the file holds it, sample for sample from its first to its last, and nothing after it.
TEST(PulsePlayback, ATakeArrivesAtTheDefaultSinksMonitorIntact) {
    // The server's default sink, where the other tests' tones end up once their sinks have gone.
    const std::string others = run("pactl load-module module-null-sink sink_name=others");
    std::system("pactl set-default-sink others");
    // Without rewinds: a sink that rewinds sends its monitor what it rendered before each rewind
    // as well as after (a server without the argument, PipeWire's, never rewinds a null sink).
    std::string module = run("pactl load-module module-null-sink sink_name=played rate=48000 channels=1 norewinds=1");
    if (module.empty()) module = run("pactl load-module module-null-sink sink_name=played rate=48000 channels=1");
    ASSERT_FALSE(module.empty());
    ScopedEnv defaultSink("PULSE_SINK", "played");   // the client's default
    TempDir dir;
    std::vector<std::int16_t> take(72000);   // 1.5 s of a 997 Hz cosine at half scale
    std::ofstream out(dir.file("take.wav"), std::ios::binary);
    writeWavHeader(out, 48000, 16, 1, 2 * take.size(), false);
    for (std::size_t i = 0; i < take.size(); ++i) {
        take[i] = floatToPCM16(static_cast<float>(0.5 * std::cos(2 * M_PI * 997 * i / 48000)));
        out.put(static_cast<char>(take[i] & 0xFF)).put(static_cast<char>(take[i] >> 8 & 0xFF));
    }
    out.close();
    const std::string raw = dir.file("monitor.raw").string(), pid = dir.file("parec.pid").string();
    std::system(("parec --raw --format=float32le --rate=48000 --channels=1 --latency-msec=20 -d played.monitor >'" +
                 raw + "' & echo $! >'" + pid + "'").c_str());
    // Played once the monitor delivers (half a second of it), or it may miss the first fragment.
    for (int i = 0; i < 100 && readFileBytes(raw).size() < 96000; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    resetSharedState();
    RecordingMessaging messaging;
    setPlaybackOutputFactory(makePulsePlaybackOutput);
    playWavFile(dir.file("take.wav").wstring(), nullptr, beginPlayback());
    setPlaybackOutputFactory(nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));   // the monitor's last fragments
    std::system(("kill -INT $(cat '" + pid + "'); sleep 0.3").c_str());
    for (const std::string& m : {module, others}) std::system(("pactl unload-module " + m).c_str());
    ASSERT_EQ(messaging.posted().back().msg, WM_APP_PLAYBACK_DONE);
    EXPECT_EQ(exportMessageValue(messaging.posted().back().wParam), unsigned(PlaybackOutcome::Finished));

    const std::vector<unsigned char> bytes = readFileBytes(raw);
    std::vector<float> heard(bytes.size() / 4);
    std::memcpy(heard.data(), bytes.data(), heard.size() * 4);
    auto at = std::find_if(heard.begin(), heard.end(), [](float x) { return std::fabs(x) > 0.25f; });
    // A graph cycle the sound server runs late plays silence in the sink (PipeWire under load;
    // exact zeros, two or more in a row, which the cosine never has): passed over, so what is
    // compared is every frame the take sent, once and in order.
    std::vector<float> played;
    while (at != heard.end() && played.size() < take.size()) {
        const auto zeros = std::find_if(at, heard.end(), [](float x) { return x != 0.0f; }) - at;
        if (zeros >= 2) {
            at += zeros;
            continue;
        }
        played.push_back(*at++);
    }
    ASSERT_EQ(played.size(), take.size());
    ASSERT_GE(heard.end() - at, 2048) << "a fragment after the take";
    float worst = 0, after = 0;
    for (std::size_t i = 0; i < take.size(); ++i) worst = std::max(worst, std::fabs(played[i] - take[i] / 32768.0f));
    for (int i = 0; i < 2048; ++i) after = std::max(after, std::fabs(at[i]));
    EXPECT_LT(worst, 1e-3f);
    EXPECT_LT(after, 1e-3f) << "nothing played after the take";
}
