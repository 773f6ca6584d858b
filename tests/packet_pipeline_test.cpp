// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <sstream>
#include <utility>

#include "analysis/fft_analysis.h"
#include "app/app_state.h"
#include "capture/packet_pipeline.h"
#include "tests/test_support.h"

namespace {

HWND fakeWindow() { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x1234)); }

std::vector<std::int16_t> fileSamples(const std::ostringstream& out) {
    const std::string s = out.str();
    std::vector<std::int16_t> v(s.size() / 2);
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<std::int16_t>(static_cast<unsigned char>(s[2 * i]) |
                                         static_cast<unsigned char>(s[2 * i + 1]) << 8);
    return v;
}

std::vector<float> ramp(std::size_t n, float start, float step) {
    std::vector<float> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = start + step * static_cast<float>(i);
    return v;
}

std::vector<std::int16_t> waveform() {
    std::lock_guard<std::mutex> lock(waveformMutex);
    return waveformBufferL.snapshot();
}

std::vector<float> fftInput() {
    std::lock_guard<std::mutex> lock(fftInputMutex);
    return fftInputBuffer;
}

std::vector<float> spectrum() {
    std::lock_guard<std::mutex> lock(spectrumMutex);
    return spectrumBuffer.bins();
}

}  // namespace

TEST(FloatToPCM16, ClampsScalesAndTruncates) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const std::pair<float, int> table[] = {
        {1.0f, 32767}, {-1.0f, -32767}, {2.5f, 32767}, {-7.0f, -32767}, {0.5f, 16383},
        {-0.5f, -16383}, {0.0f, 0}, {1.0e-5f, 0}, {-1.0e-5f, 0}, {nan, 0}, {inf, 32767},
        {-inf, -32767}, {0.99999f, 32766}, {3.0e-5f, 0}, {3.1e-5f, 1}};
    for (const auto& [in, out] : table) EXPECT_EQ(floatToPCM16(in), out) << "input " << in;
}

TEST(PacketPipeline, StereoMonoAndFourChannelPackets) {
    resetSharedState();
    RecordingMessaging sink;
    const HWND hwnd = fakeWindow();

    // Stereo, 480 frames: left ramps up, right ramps down.
    std::vector<float> stereo(960);
    for (std::size_t i = 0; i < 480; ++i) {
        stereo[2 * i] = static_cast<float>(i) / 480.0f;
        stereo[2 * i + 1] = -static_cast<float>(i) / 480.0f;
    }
    std::ostringstream file(std::ios::binary);
    std::uint64_t written = 100;
    processCapturePacket(stereo.data(), 480, 2, file, written, hwnd);
    EXPECT_EQ(file.str().size(), 1920u);
    EXPECT_EQ(written, 100u + 1920);
    EXPECT_EQ(takeCounters.dataBytes.load(), written);
    const auto pcm = fileSamples(file);
    for (std::size_t i = 0; i < 960; ++i) ASSERT_EQ(pcm[i], floatToPCM16(stereo[i])) << i;
    auto wave = waveform();
    ASSERT_EQ(wave.size(), 480u);
    for (std::size_t i = 0; i < 480; ++i) ASSERT_EQ(wave[i], floatToPCM16(stereo[2 * i]));
    auto feed = fftInput();
    ASSERT_EQ(feed.size(), 480u);
    for (std::size_t i = 0; i < 480; ++i) ASSERT_EQ(feed[i], stereo[2 * i]);
    ASSERT_EQ(sink.debugLines().size(), 1u);
    EXPECT_EQ(sink.debugLines()[0], "[DEBUG] fftInputBuffer size = 480\n");
    ASSERT_EQ(sink.posted().size(), 1u);
    EXPECT_EQ(sink.posted()[0].msg, WM_APP_LEVEL_UPDATE);
    EXPECT_EQ(sink.posted()[0].hwnd, hwnd);
    EXPECT_EQ(sink.posted()[0].wParam, 0u);
    EXPECT_EQ(sink.posted()[0].lParam, 0);

    // Mono, 480 frames.
    resetSharedState();
    std::ostringstream monoFile(std::ios::binary);
    written = 0;
    const auto mono = ramp(480, -0.5f, 0.001f);
    processCapturePacket(mono.data(), 480, 1, monoFile, written, hwnd);
    EXPECT_EQ(written, 960u);
    EXPECT_EQ(monoFile.str().size(), 960u);
    wave = waveform();
    ASSERT_EQ(wave.size(), 480u);
    EXPECT_EQ(wave[10], floatToPCM16(mono[10]));

    // Four channels, 100 frames: the interleaved stream is the selected sequence.
    resetSharedState();
    std::ostringstream quadFile(std::ios::binary);
    written = 0;
    std::vector<float> quad(400, 0.0f);
    for (std::size_t f = 0; f < 100; ++f) quad[4 * f + 3] = 0.8f;  // only channel 3 has signal
    processCapturePacket(quad.data(), 100, 4, quadFile, written, hwnd);
    EXPECT_EQ(written, 800u);
    EXPECT_EQ(waveform().size(), 400u);
    EXPECT_EQ(fftInput().size(), 400u);
    EXPECT_NEAR(currentLevel.load(), 0.4f, 1e-6f);  // sqrt(0.64 / 4): taken over all 400

    // Clipping: a PCM16 value at full scale (+-32767), in any channel, on either side; not a
    // NaN, not one step below (an integer source's limits are its conversion's to tell).
    const float nearly[4] = {std::nanf(""), 0.99996f, -0.99996f, 0.0f};
    processCapturePacket(nearly, 2, 2, quadFile, written, hwnd);
    EXPECT_FALSE(takeCounters.clipped.load());
    for (const float full : {-1.0f, 1.0f, 4.0f}) {
        takeCounters.clipped.store(false);
        const float packet[4] = {0.0f, 0.0f, 0.0f, full};
        processCapturePacket(packet, 2, 2, quadFile, written, hwnd);
        EXPECT_TRUE(takeCounters.clipped.load()) << full;
    }
}

TEST(PacketPipeline, FeedsTheNewest1024SamplesEvery1024) {
    resetSharedState();
    RecordingMessaging sink;
    globalSampleRate = 48000;
    std::ostringstream file(std::ios::binary);
    std::uint64_t written = 0;
    std::vector<float> left;
    for (int p = 0; p < 3; ++p) {
        std::vector<float> packet(960);
        for (std::size_t i = 0; i < 480; ++i) {
            const float v = std::sin(0.05f * static_cast<float>(p * 480 + i)) * 0.7f;
            packet[2 * i] = v;
            packet[2 * i + 1] = 0.25f;
            left.push_back(v);
        }
        processCapturePacket(packet.data(), 480, 2, file, written, fakeWindow());
        if (p == 0) {
            EXPECT_EQ(fftInput().size(), 480u);
        }
        if (p == 1) {
            EXPECT_EQ(fftInput().size(), 960u);
            EXPECT_TRUE(spectrum().empty());
        }
    }
    EXPECT_TRUE(fftInput().empty());
    const auto published = spectrum();
    ASSERT_EQ(published.size(), 4096u);

    // The analysis must have seen left samples 416..1439 (the newest 1024 of 1440).
    std::vector<std::string> lines = sink.debugLines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[1], "[DEBUG] fftInputBuffer size = 960\n");
    EXPECT_EQ(lines[2], "[DEBUG] fftInputBuffer size = 1440\n");
    EXPECT_EQ(lines[3], "[FFT] processFFT called\n");
    processFFT(left.data() + 416, 1024, 48000);
    EXPECT_EQ(spectrum(), published);
    EXPECT_EQ(sink.debugLines().back(), lines[4]);
    processFFT(left.data(), 1024, 48000);
    EXPECT_NE(spectrum(), published) << "the oldest samples would give another spectrum";
}

// The spectrogram reads channel 0's frames at any channel count: 2 s at 48 kHz are 85 columns, a
// -6 dBFS tone in channel 0 (1 kHz, from 1 s 4 kHz) lies in its row (44, then 59) and rows 3 or more
// from it stay under -90 dBFS. After 0.5 s in 10 ms packets, one 1.5 s packet: each hop is analysed.
TEST(PacketPipeline, SpectrogramFollowsChannelZerosFramesAtAnyChannelCount) {
    RecordingMessaging sink;
    for (const int channels : {1, 2, 4}) {
        SCOPED_TRACE(channels);
        resetSharedState();
        globalSampleRate = 48000;
        std::vector<float> take(96000 * channels);
        for (std::size_t f = 0; f < 96000; ++f) {
            const double hz = f < 48000 ? 1000 : 4000, radians = 6.283185307179586 * hz * f / 48000;
            for (int c = 0; c < channels; ++c)   // the others: 5.3 kHz and up
                take[f * channels + c] = static_cast<float>(c ? 0.9 * std::sin(0.7 * c * f) : 0.5 * std::sin(radians));
        }
        std::ostringstream file(std::ios::binary);
        std::uint64_t written = 0;
        for (std::uint32_t f = 0, n = 0; f < 96000; f += n) {
            n = f < 24000 ? 480 : 72000;
            processCapturePacket(take.data() + f * channels, n, channels, file, written, fakeWindow());
        }
        std::lock_guard<std::mutex> lock(spectrumMutex);
        ASSERT_EQ(spectrogramHistory.columns(), 85u);
        for (const auto& [index, row] : {std::pair{32, 44}, std::pair{84, 59}}) {
            const float* column = spectrogramHistory.column(index);
            EXPECT_EQ(std::max_element(column, column + SPECTROGRAM_ROWS) - column, row) << index;
            EXPECT_NEAR(column[row], -6.0, 0.9) << index;
            for (int r = 0; r < static_cast<int>(SPECTROGRAM_ROWS); ++r)
                EXPECT_TRUE(std::abs(r - row) < 3 || column[r] < -90.0f) << index << ", row " << r;
        }
    }
}

TEST(PacketPipeline, WaveformKeepsTheNewest65536) {
    resetSharedState();
    RecordingMessaging sink;
    std::ostringstream file(std::ios::binary);
    std::uint64_t written = 0;
    // Fill to 65000 (536 short), with distinct values modulo 2^15.
    std::vector<float> chunk(65000);
    for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<float>(i % 30000) / 32767.0f;
    processCapturePacket(chunk.data(), 65000, 1, file, written, fakeWindow());
    EXPECT_EQ(waveform().size(), 65000u) << "1000 or more short: nothing erased";
    const auto before = waveform();

    std::vector<float> more(1000, -0.25f);
    processCapturePacket(more.data(), 1000, 1, file, written, fakeWindow());
    const auto after = waveform();
    ASSERT_EQ(after.size(), 65536u);
    EXPECT_TRUE(std::equal(before.begin() + 464, before.end(), after.begin()))
        << "the oldest 464 are gone, the rest kept in order";
    EXPECT_EQ(after.back(), floatToPCM16(-0.25f));
    EXPECT_EQ(after[65536 - 1000], floatToPCM16(-0.25f));
    EXPECT_NE(after[65536 - 1001], floatToPCM16(-0.25f));
}

TEST(PacketPipeline, LevelClampingAndEmptyPackets) {
    resetSharedState();
    RecordingMessaging sink;
    std::ostringstream file(std::ios::binary);
    std::uint64_t written = 0;
    auto level = [&](std::vector<float> s, std::int32_t ch) {
        processCapturePacket(s.data(), static_cast<std::uint32_t>(s.size() / ch), ch, file, written,
                             fakeWindow());
        return currentLevel.load();
    };
    EXPECT_FLOAT_EQ(level(std::vector<float>(64, 0.5f), 1), 0.5f);
    EXPECT_EQ(level(std::vector<float>(64, 2.0f), 1), 1.0f);
    EXPECT_EQ(level(std::vector<float>(64, 0.0f), 1), 0.0f);
    // Stereo: the level is channel 0's.
    std::vector<float> st(128);
    for (std::size_t i = 0; i < 64; ++i) {
        st[2 * i] = 0.1f;
        st[2 * i + 1] = 0.9f;
    }
    EXPECT_FLOAT_EQ(level(st, 2), 0.1f);

    // A zero-frame packet stores no NaN: the last level stays.
    const std::size_t posts = sink.count(WM_APP_LEVEL_UPDATE);
    const std::uint64_t bytes = written;
    processCapturePacket(st.data(), 0, 2, file, written, fakeWindow());
    EXPECT_FLOAT_EQ(currentLevel.load(), 0.1f);
    EXPECT_EQ(written, bytes);
    EXPECT_EQ(sink.count(WM_APP_LEVEL_UPDATE), posts + 1);

    // Out-of-range samples: clamped in the file and waveform, raw in the FFT feed and level.
    resetSharedState();
    std::ostringstream clampFile(std::ios::binary);
    written = 0;
    const std::vector<float> loud = {1.5f, -3.0f, 0.25f};
    processCapturePacket(loud.data(), 3, 1, clampFile, written, fakeWindow());
    EXPECT_EQ(fileSamples(clampFile), (std::vector<std::int16_t>{32767, -32767, 8191}));
    EXPECT_EQ(waveform(), (std::vector<std::int16_t>{32767, -32767, 8191}));
    EXPECT_EQ(fftInput(), loud);
    EXPECT_EQ(currentLevel.load(), 1.0f);
}
