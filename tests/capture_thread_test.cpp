// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>
#include <utility>

#include "app/app_state.h"
#include "capture/capture_thread.h"
#include "capture/gap_filling_source.h"
#include "capture/packet_gate.h"
#include "capture/packet_pipeline.h"
#include "capture/recording_outcome.h"
#include "capture/sample_conversion.h"
#include "capture/wav_header.h"
#include "tests/fake_capture_source.h"
#include "tests/test_support.h"

namespace {

HWND window() { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0xBEEF)); }

// The fake clock of the gap-filling test's source (a factory is a plain function pointer).
std::shared_ptr<GapFillingSource::Clock::time_point> gapClock;

bool activeWhenDonePosted = true;
void noteActiveOnDone(unsigned msg) {
    if (msg == WM_APP_RECORDING_DONE) activeWhenDonePosted = recordingThreadActive.load();
}

struct RunResult {
    RecordingOutcome outcome;
    std::size_t doneMessages;
    std::size_t levelMessages;
};

// Runs one recording on its own thread, as the Start command does, and waits for it.
RunResult record(FakeScript& script, const std::wstring& path) {
    resetSharedState();
    RecordingMessaging sink;
    sink.setOnPost(noteActiveOnDone);
    activeWhenDonePosted = true;
    activeFakeScript = &script;
    setCaptureSourceFactory(makeFakeCaptureSource);
    std::thread(recordAudioToWav, path, window(), CaptureEndpoint{}).join();
    RunResult r{RecordingOutcome::InternalError, sink.count(WM_APP_RECORDING_DONE),
          sink.count(WM_APP_LEVEL_UPDATE)};
    for (const auto& m : sink.posted()) {
        EXPECT_EQ(m.hwnd, window());
        if (m.msg == WM_APP_RECORDING_DONE) r.outcome = static_cast<RecordingOutcome>(m.wParam);
    }
    EXPECT_FALSE(recordingThreadActive.load());
    EXPECT_FALSE(activeWhenDonePosted) << "the done message must follow recordingThreadActive=false";
    EXPECT_TRUE(script.destroyed) << "the source must be released on every path";
    return r;
}

std::wstring pathOf(const std::filesystem::path& p) { return p.wstring(); }

std::uint32_t u32At(const std::vector<unsigned char>& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

std::vector<std::int16_t> dataOf(const std::vector<unsigned char>& b) {
    std::vector<std::int16_t> v((b.size() - 44) / 2);
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<std::int16_t>(b[44 + 2 * i] | b[45 + 2 * i] << 8);
    return v;
}

std::vector<float> stereoSamples(std::size_t frames, float phase) {
    std::vector<float> s(frames * 2);
    for (std::size_t i = 0; i < frames; ++i) {
        s[2 * i] = 0.6f * std::sin(phase + 0.01f * static_cast<float>(i));
        s[2 * i + 1] = -0.3f;
    }
    return s;
}

}  // namespace

TEST(CaptureThread, FailureAtEachPlatformStepCreatesNoFile) {
    const FakeStep steps[] = {FakeStep::Activate, FakeStep::MixFormat, FakeStep::Initialize,
                              FakeStep::Service, FakeStep::Start};
    for (FakeStep step : steps) {
        TempDir dir;
        FakeScript script;
        script.format.sampleRate = 32000;
        script.failAt = step;
        script.packets.push_back(floatPacket(std::vector<float>(100, 0.1f), 1));
        const RunResult r = record(script, pathOf(dir.file("never.wav")));
        EXPECT_EQ(r.outcome, RecordingOutcome::NoDevice);
        EXPECT_EQ(r.doneMessages, 1u);
        EXPECT_EQ(r.levelMessages, 0u);
        EXPECT_FALSE(isRecording.load());
        EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
        EXPECT_EQ(script.calls.back() == "stop", false) << "nothing to stop when start failed";
        // The endpoint's rate is taken as soon as the format was read.
        const bool formatRead = step != FakeStep::Activate && step != FakeStep::MixFormat;
        EXPECT_EQ(globalSampleRate, formatRead ? 32000 : 44100);
    }
}

TEST(CaptureThread, RefusedPathsAndFormatsEndWithoutAFile) {
    TempDir dir;
    FakeScript noDir;
    RunResult r = record(noDir, pathOf(dir.file("missing") / "x.wav"));
    EXPECT_EQ(r.outcome, RecordingOutcome::FileCreateFailed);
    EXPECT_EQ(r.doneMessages, 1u);
    EXPECT_FALSE(isRecording.load());

    FakeScript badName;
    std::wstring path = pathOf(dir.file("bad"));
    path += static_cast<wchar_t>(0xD800);  // unpaired surrogate
    r = record(badName, path);
    EXPECT_EQ(r.outcome, RecordingOutcome::BadFileName);
    EXPECT_EQ(r.doneMessages, 1u);

    for (const MixFormat& f : {MixFormat{2, 48000, SampleEncoding::Other, 32, 32},
                               MixFormat{2, 48000, SampleEncoding::Pcm, 8, 8},
                               MixFormat{2, 48000, SampleEncoding::Float, 64, 64},
                               MixFormat{0, 48000, SampleEncoding::Float, 32, 32}}) {
        FakeScript odd;
        odd.format = f;
        r = record(odd, pathOf(dir.file("odd.wav")));
        EXPECT_EQ(r.outcome, RecordingOutcome::UnsupportedFormat);
        EXPECT_EQ(r.doneMessages, 1u);
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(CaptureThread, StopBeforeTheFirstPacketLeavesA44ByteFile) {
    TempDir dir;
    FakeScript script;  // no packets: the first poll finds none and Stop is pressed
    const RunResult r = record(script, pathOf(dir.file("empty.wav")));
    EXPECT_EQ(r.outcome, RecordingOutcome::Saved);
    EXPECT_EQ(r.doneMessages, 1u);
    EXPECT_TRUE(script.sawRecordingFlagAtFirstPoll);
    const auto bytes = readFileBytes(dir.file("empty.wav"));
    ASSERT_EQ(bytes.size(), 44u);
    EXPECT_EQ(u32At(bytes, 40), 0u);
    EXPECT_EQ(u32At(bytes, 4), 36u);
    EXPECT_EQ(script.calls.back(), "stop");
}

TEST(CaptureThread, RecordsEveryPacketAndFinalisesTheHeader) {
    TempDir dir;
    FakeScript script;
    script.format = {2, 44100, SampleEncoding::Float, 32, 32};
    std::vector<float> all;
    for (int p = 0; p < 6; ++p) {
        const auto s = stereoSamples(441, static_cast<float>(p));
        all.insert(all.end(), s.begin(), s.end());
        script.packets.push_back(floatPacket(s, 2));
    }
    // A silent packet whose buffer holds noise, and a hole: both are zeros in the file.
    script.packets.push_back(floatPacket(std::vector<float>(200, 0.9f), 2, CAPTURE_FLAG_SILENT));
    FakePacket hole;
    hole.frames = 50;
    hole.nullData = true;
    script.packets.push_back(hole);
    all.insert(all.end(), 200 + 100, 0.0f);

    const RunResult r = record(script, pathOf(dir.file("stereo.wav")));
    EXPECT_EQ(r.outcome, RecordingOutcome::Saved);
    EXPECT_EQ(r.doneMessages, 1u);
    EXPECT_EQ(r.levelMessages, 8u);
    EXPECT_EQ(script.released, 8);
    const auto bytes = readFileBytes(dir.file("stereo.wav"));
    const WAVHeader h = parseWavHeader(bytes.data());
    EXPECT_EQ(h.numChannels, 2);
    EXPECT_EQ(h.sampleRate, 44100u);
    EXPECT_EQ(h.byteRate, 44100u * 4);
    EXPECT_EQ(h.blockAlign, 4);
    EXPECT_EQ(h.bitsPerSample, 16);
    EXPECT_EQ(h.audioFormat, 1);
    EXPECT_EQ(h.dataSize, bytes.size() - 44);
    EXPECT_EQ(h.riffSize, bytes.size() - 8);
    const auto data = dataOf(bytes);
    ASSERT_EQ(data.size(), all.size());
    for (std::size_t i = 0; i < all.size(); ++i) ASSERT_EQ(data[i], floatToPCM16(all[i])) << i;
    EXPECT_EQ(currentLevel.load(), 0.0f) << "the last packet was silence";
}

// Once per second of audio the header is rewritten with the data so far, so a process killed
// mid-recording leaves a file that strict readers accept; the data keeps being appended at the
// end, and Stop still writes the exact final header.
TEST(CaptureThread, HeaderFollowsTheDataEverySecond) {
    TempDir dir;
    const auto file = dir.file("live.wav");
    FakeScript script;
    script.format = {1, 8000, SampleEncoding::Float, 32, 32};  // one second = 16000 bytes
    std::vector<float> all;
    for (int p = 0; p < 9; ++p) {
        std::vector<float> s(3000, 0.1f * static_cast<float>(p - 4));  // 6000 bytes each
        all.insert(all.end(), s.begin(), s.end());
        script.packets.push_back(floatPacket(s, 1));
    }
    std::vector<std::pair<std::size_t, std::uint32_t>> seen[10];  // per packets released
    script.onPoll = [&] {
        const auto bytes = readFileBytes(file);
        seen[script.released].push_back({bytes.size(), u32At(bytes, 40)});
        EXPECT_EQ(u32At(bytes, 4), u32At(bytes, 40) + 36);
    };
    const RunResult r = record(script, pathOf(file));
    ASSERT_EQ(r.outcome, RecordingOutcome::Saved);
    // Refreshed when 1, 2 and 3 seconds were complete: after packets 3, 6 and 8.
    const std::uint32_t header[9] = {0, 0, 0, 18000, 18000, 18000, 36000, 36000, 48000};
    for (int k = 0; k < 9; ++k) {
        ASSERT_FALSE(seen[k].empty()) << k;
        for (const auto& s : seen[k]) {
            EXPECT_EQ(s.first, 44u + 6000u * static_cast<unsigned>(k)) << "after packet " << k;
        }
        EXPECT_EQ(seen[k].back().second, header[k]) << "after packet " << k;
    }
    const auto bytes = readFileBytes(file);
    EXPECT_EQ(u32At(bytes, 40), 54000u);
    EXPECT_EQ(u32At(bytes, 4), 54036u);
    const auto data = dataOf(bytes);
    ASSERT_EQ(data.size(), all.size());
    for (std::size_t i = 0; i < all.size(); ++i) ASSERT_EQ(data[i], floatToPCM16(all[i])) << i;
}

TEST(CaptureThread, IntegerMixFormatsAreConvertedToFloat) {
    struct Case {
        MixFormat format;
        std::vector<unsigned char> bytes;
        std::vector<std::int16_t> expected;
    };
    const Case cases[] = {
        {{1, 48000, SampleEncoding::Pcm, 16, 16}, {0x00, 0x40, 0x00, 0xC0, 0xFF, 0x7F}, {16383, -16383, 32766}},
        {{1, 48000, SampleEncoding::Pcm, 24, 24}, {0x00, 0x00, 0x40, 0x00, 0x00, 0x80}, {16383, -32767}},
        {{1, 48000, SampleEncoding::Pcm, 32, 24}, {0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0xE0}, {16383, -8191}},
    };
    for (const Case& c : cases) {
        TempDir dir;
        FakeScript script;
        script.format = c.format;
        FakePacket p;
        p.bytes = c.bytes;
        p.frames = static_cast<std::uint32_t>(c.expected.size());
        script.packets.push_back(p);
        const RunResult r = record(script, pathOf(dir.file("pcm.wav")));
        EXPECT_EQ(r.outcome, RecordingOutcome::Saved);
        EXPECT_EQ(dataOf(readFileBytes(dir.file("pcm.wav"))), c.expected)
            << "container bits " << c.format.containerBits;
        // The first two hold an integer limit (s16 +32767, s24 -2^23): the take shows clipping.
        EXPECT_EQ(takeCounters.clipped.load(), c.format.containerBits != 32) << c.format.containerBits;
    }

    // Clipping is an integer sample at its maximum or minimum, either side; one below is not.
    struct Limit {
        MixFormat format;
        std::uint32_t atLimit, below;   // little-endian container bytes of one sample
    };
    const Limit limits[] = {
        {{1, 48000, SampleEncoding::Pcm, 16, 16}, 0x7FFF, 0x7FFE},         {{1, 48000, SampleEncoding::Pcm, 16, 16}, 0x8000, 0x8001},
        {{1, 48000, SampleEncoding::Pcm, 24, 24}, 0x7FFFFF, 0x7FFFFE},     {{1, 48000, SampleEncoding::Pcm, 24, 24}, 0x800000, 0x800001},
        {{1, 48000, SampleEncoding::Pcm, 32, 24}, 0x7FFFFF00, 0x7FFFFE00}, {{1, 48000, SampleEncoding::Pcm, 32, 32}, 0x7FFFFFFF, 0x7FFFFFFE},
        {{1, 48000, SampleEncoding::Pcm, 32, 32}, 0x80000000, 0x80000001},
    };
    std::vector<float> scratch;
    for (const Limit& l : limits) {
        for (const std::uint32_t v : {l.below, l.atLimit}) {
            const unsigned char bytes[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                                            static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
            bool clipped = false;
            const float x = packetAsFloat(bytes, 1, 0, l.format, scratch, clipped)[0];
            EXPECT_EQ(clipped, v == l.atLimit) << std::hex << v << " in " << l.format.containerBits;
            EXPECT_LE(std::fabs(x), 1.0f);
        }
    }
}

TEST(CaptureThread, DeviceLossAndSkippedBuffers) {
    // The device goes away after two packets: the file is finalised with what was written and
    // isRecording stays set until the window handles the done message.
    TempDir dir;
    FakeScript lost;
    for (int p = 0; p < 5; ++p) lost.packets.push_back(floatPacket(std::vector<float>(480, 0.2f), 1));
    lost.failNextSizeAtTopAfter = 2;
    RunResult r = record(lost, pathOf(dir.file("lost.wav")));
    EXPECT_EQ(r.outcome, RecordingOutcome::DeviceRemoved);
    EXPECT_EQ(r.doneMessages, 1u);
    EXPECT_TRUE(isRecording.load());
    auto bytes = readFileBytes(dir.file("lost.wav"));
    EXPECT_EQ(bytes.size(), 44u + 2 * 960);
    EXPECT_EQ(u32At(bytes, 40), 2u * 960);
    EXPECT_EQ(lost.calls.back(), "stop");

    // A failed GetBuffer skips nothing for good: the packet comes again on the next pass.
    FakeScript flaky;
    for (int p = 0; p < 3; ++p) flaky.packets.push_back(floatPacket(std::vector<float>(100, 0.2f), 1));
    flaky.failGetBufferCall = 1;
    r = record(flaky, pathOf(dir.file("flaky.wav")));
    EXPECT_EQ(r.outcome, RecordingOutcome::Saved);
    EXPECT_EQ(readFileBytes(dir.file("flaky.wav")).size(), 44u + 3 * 200);
    EXPECT_EQ(r.levelMessages, 3u);

    // Stop after two packets: the three the device still delivers while draining are kept.
    FakeScript stopped;
    for (int p = 0; p < 5; ++p) stopped.packets.push_back(floatPacket(std::vector<float>(100, 0.2f), 1));
    stopped.stopAfter = 2;
    stopped.stopWhenDrained = false;
    r = record(stopped, pathOf(dir.file("stopped.wav")));
    EXPECT_EQ(r.outcome, RecordingOutcome::Saved);
    EXPECT_EQ(readFileBytes(dir.file("stopped.wav")).size(), 44u + 5 * 200);
    EXPECT_EQ(stopped.calls.back(), "stop");
    EXPECT_EQ(stopped.calls.end()[-2], "drain");
}

// Packets 2-4 come in a pause, 5 after Resume, 6 and 7 in a second pause, Stop after 6: the file
// holds 0, 1 and 5 whole, joined, and was valid with every frame before the pause throughout it.
TEST(CaptureThread, PausedPacketsAreReadAndDroppedWhileTheMeterGoesOn) {
    TempDir dir;
    const auto file = dir.file("paused.wav");
    FakeScript script;
    script.format = {2, 8000, SampleEncoding::Float, 32, 32};
    std::vector<float> kept;
    for (int p = 0; p < 8; ++p) {
        const std::vector<float> s = p == 7 ? std::vector<float>(200, 0.5f) : stereoSamples(100, static_cast<float>(p));
        if (p < 2 || p == 5) kept.insert(kept.end(), s.begin(), s.end());
        script.packets.push_back(floatPacket(s, 2));
    }
    script.stopAfter = 7;
    script.stopWhenDrained = false;
    script.onPoll = [&] {
        isPaused.store((script.released >= 2 && script.released < 5) || script.released >= 6);
        EXPECT_TRUE(script.released != 3 || u32At(readFileBytes(file), 40) + 44 == readFileBytes(file).size());
    };
    const RunResult r = record(script, pathOf(file));
    EXPECT_EQ(r.outcome, RecordingOutcome::Saved);
    EXPECT_EQ(r.levelMessages, 8u);
    EXPECT_EQ(currentLevel.load(), 0.5f) << "the meter shows the last packet, read in the pause";
    const auto bytes = readFileBytes(file);
    EXPECT_EQ(u32At(bytes, 40), bytes.size() - 44);
    const auto data = dataOf(bytes);
    ASSERT_EQ(data.size(), kept.size());
    for (std::size_t i = 0; i < kept.size(); ++i) ASSERT_EQ(data[i], floatToPCM16(kept[i])) << i;
    std::lock_guard<std::mutex> lock(waveformMutex);
    EXPECT_EQ(waveformBufferL.snapshot().size(), 300u) << "the views got the recorded packets only";
}

TEST(CaptureThread, StopsCleanlyAtTheSizeLimit) {
    TempDir dir;
    FakeScript script;
    script.format = {2, 48000, SampleEncoding::Float, 32, 32};
    script.drainAll = true;
    for (int p = 0; p < 4; ++p) script.packets.push_back(floatPacket(stereoSamples(480, 0.0f), 2));
    setWavDataLimit(4000 + 2);  // two full packets (3840 bytes), then 40 whole frames fit
    const RunResult r = record(script, pathOf(dir.file("limit.wav")));
    setWavDataLimit(WAV_MAX_DATA_BYTES);
    EXPECT_EQ(r.outcome, RecordingOutcome::SizeLimitReached);
    EXPECT_EQ(r.doneMessages, 1u);
    const auto bytes = readFileBytes(dir.file("limit.wav"));
    ASSERT_EQ(bytes.size(), 44u + 4000);
    EXPECT_EQ(u32At(bytes, 40), 4000u);
    EXPECT_EQ(u32At(bytes, 4), 4036u);
    EXPECT_EQ(script.released, 3) << "the buffer that hit the limit is still released";
}

// The same scripted packets must give the same bytes on every build (Linux and Windows alike):
// the file is compared with a fixed digest. Sample values are exact binary fractions, so no
// math library enters the result.
TEST(CaptureThread, ScriptedRecordingIsByteIdenticalEverywhere) {
    TempDir dir;
    FakeScript script;
    script.format = {2, 44100, SampleEncoding::Float, 32, 32};
    for (std::uint32_t p = 0; p < 12; ++p) {
        std::vector<float> s(2 * 300);
        for (std::uint32_t i = 0; i < s.size(); ++i) {
            const std::uint32_t k = (p * 600 + i) * 2654435761u;  // well-mixed integers
            s[i] = static_cast<float>(static_cast<std::int32_t>(k >> 8) - (1 << 23)) / 4194304.0f;
        }
        script.packets.push_back(floatPacket(s, 2));
    }
    const RunResult r = record(script, pathOf(dir.file("golden.wav")));
    ASSERT_EQ(r.outcome, RecordingOutcome::Saved);
    const auto bytes = readFileBytes(dir.file("golden.wav"));
    ASSERT_EQ(bytes.size(), 44u + 12 * 1200);
    std::uint64_t fnv = 1469598103934665603ull;  // FNV-1a, 64 bit
    for (unsigned char b : bytes) fnv = (fnv ^ b) * 1099511628211ull;
    EXPECT_EQ(fnv, 0x3a36a358d5c82b2full) << std::hex << "digest 0x" << fnv;
}

// When a source that receives pieces hands them on, and when silence means the source is gone.
TEST(CaptureThread, SystemSoundStaysContinuousWhileNothingPlays) {
    // A loopback device has no packets while nothing plays: 10 ms, then 500 ms of nothing, then
    // 10 ms. On a clock that moves 10 ms a poll, the take holds the silence the gap stands for;
    // an input's take (the filler passes it through) holds only what came.
    for (const EndpointKind kind : {EndpointKind::SystemSound, EndpointKind::Input}) {
        TempDir dir;
        FakeScript script;
        script.packets.push_back(floatPacket(std::vector<float>(480, 0.25f), 1));
        script.packets.push_back(floatPacket(std::vector<float>(480, 0.5f), 1));
        script.packets[1].pollsBefore = 50;
        auto clock = std::make_shared<GapFillingSource::Clock::time_point>();
        script.onPoll = [clock] { *clock += std::chrono::milliseconds(10); };
        resetSharedState();
        RecordingMessaging sink;
        activeFakeScript = &script;
        gapClock = clock;
        setCaptureSourceFactory([]() -> std::unique_ptr<CaptureSource> {
            return std::make_unique<GapFillingSource>(makeFakeCaptureSource(), [c = gapClock] { return *c; });
        });
        std::thread(recordAudioToWav, pathOf(dir.file("loop.wav")), window(), CaptureEndpoint{kind, "out", L"Out"}).join();
        const std::vector<std::int16_t> data = dataOf(readFileBytes(dir.file("loop.wav")));
        if (kind == EndpointKind::Input) {
            EXPECT_EQ(data.size(), 960u);
            continue;
        }
        // 500 ms of silence, give or take the 10 ms polls around it, between the two packets.
        ASSERT_GE(data.size(), 960u + 470 * 48);
        EXPECT_LE(data.size(), 960u + 520 * 48);
        EXPECT_EQ(data[479], floatToPCM16(0.25f));
        EXPECT_EQ(data[480], 0);
        EXPECT_EQ(data[data.size() - 481], 0);
        EXPECT_EQ(data[data.size() - 480], floatToPCM16(0.5f)) << "the sound after the gap, whole";
    }
}

TEST(PacketGate, GathersAboutAFragmentAndCountsSilenceOnlyWhileTheSourceRuns) {
    using namespace std::chrono;
    using D = PacketDecision;
    const PacketGate::Clock::time_point t0{};
    PacketGate gate(8000, milliseconds(43), seconds(5));
    gate.start(t0);
    const auto at = [&](int ms) { return t0 + milliseconds(ms); };
    EXPECT_EQ(gate.poll(at(10), 1920, 1920, true), D::Wait);     // a piece: gathered
    EXPECT_EQ(gate.poll(at(20), 6080, 8000, true), D::HandOn);   // a fragment's worth
    EXPECT_EQ(gate.poll(at(30), 960, 960, true), D::Wait);
    EXPECT_EQ(gate.poll(at(63), 0, 960, true), D::HandOn);       // a fragment's time old
    // Stop: at once, and what came before the Stop is in within a fragment's time and a quarter.
    PacketGate stopped = gate;
    stopped.beginDrain(at(65));
    EXPECT_EQ(stopped.poll(at(70), 480, 480, true), D::HandOn);
    EXPECT_EQ(stopped.poll(at(80), 0, 0, true), D::Wait);        // nothing to hand on
    EXPECT_FALSE(stopped.drainOver(at(118)));
    EXPECT_TRUE(stopped.drainOver(at(119)));
    EXPECT_FALSE(gate.drainOver(at(5000)));

    // 5 s without audio while running: lost. Suspended for 8 s: no stall; the count starts again
    // at the resume.
    EXPECT_EQ(gate.poll(at(5030), 0, 0, true), D::Wait);         // audio last came at 30
    EXPECT_EQ(gate.poll(at(5050), 0, 0, true), D::Lost);
    PacketGate suspended(8000, milliseconds(43), seconds(5));
    suspended.start(t0);
    for (int ms = 1000; ms <= 9000; ms += 1000)
        EXPECT_EQ(suspended.poll(at(ms), 0, 0, false), D::Wait) << ms;
    EXPECT_EQ(suspended.poll(at(13000), 0, 0, true), D::Wait);
    EXPECT_EQ(suspended.poll(at(14001), 0, 0, true), D::Lost);
}
