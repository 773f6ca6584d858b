// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "analysis/fft_analysis.h"
#include "analysis/spectrogram_analysis.h"
#include "analysis/spectrogram_levels.h"
#include "app/app_state.h"
#include "tests/test_support.h"

namespace {
constexpr double kPi = 3.14159265358979323846;

std::vector<float> sine(std::size_t n, double amplitude, double cyclesPer8192) {
    std::vector<float> s(n);
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<float>(amplitude * std::sin(2.0 * kPi * cyclesPer8192 * i / 8192.0));
    return s;
}

std::vector<float> publishedSpectrum() {
    std::lock_guard<std::mutex> lock(spectrumMutex);
    return spectrumBuffer.bins();
}

struct ParsedLine {
    std::size_t bin;
    double freq;
    double mag;
};

ParsedLine parseMaxLine(const std::string& line) {
    ParsedLine p{};
    EXPECT_EQ(std::sscanf(line.c_str(), "[FFT] MaxBin: %zu, Freq: %lf Hz, Mag: %lf", &p.bin,
                          &p.freq, &p.mag),
              3)
        << line;
    EXPECT_EQ(line.back(), '\n');
    return p;
}

}  // namespace

TEST(Blackman, CoefficientsAtTheKnownPoints) {
    initBlackman();
    ASSERT_EQ(blackmanWin.size(), 8192u);
    EXPECT_FLOAT_EQ(blackmanWin[0], -1.3877788e-17f);
    EXPECT_EQ(blackmanWin[4095], 0.99999994f);
    EXPECT_EQ(blackmanWin[4096], 0.99999994f);
    EXPECT_NEAR(blackmanWin[1023], 0.0663, 0.0005);
    EXPECT_NEAR(blackmanWin[8191], 2.75e-15, 1e-15);
    for (std::size_t i = 0; i < 8192; ++i) ASSERT_NEAR(blackmanWin[i], blackmanWin[8191 - i], 1e-6);
    // Filled once: a later call keeps the same storage and values.
    const float* before = blackmanWin.data();
    initBlackman();
    EXPECT_EQ(blackmanWin.data(), before);
}

TEST(RunFFT, MatchesANaiveDft) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    for (std::size_t n : {1u, 2u, 16u, 100u, 1024u}) {
        std::vector<std::complex<float>> in(n);
        for (auto& c : in) c = {dist(rng), dist(rng)};
        const auto out = runFFT(in);
        ASSERT_EQ(out.size(), n);
        for (std::size_t k = 0; k < n; ++k) {
            std::complex<double> acc = 0;
            for (std::size_t j = 0; j < n; ++j)
                acc += std::complex<double>(in[j]) *
                       std::polar(1.0, -2.0 * kPi * static_cast<double>(j * k % n) / n);
            ASSERT_NEAR(out[k].real(), acc.real(), 1e-3 * std::sqrt(n)) << "n " << n << " k " << k;
            ASSERT_NEAR(out[k].imag(), acc.imag(), 1e-3 * std::sqrt(n)) << "n " << n << " k " << k;
        }
    }
}

// The analysis keeps one plan for the whole run; a plan made afresh for each call (runFFT) is
// the reference. Same size, flags and alignment must give the same bits, call after call, for a
// tone, noise, an impulse and silence, in an interleaved order.
TEST(RunKeptFFT, BitIdenticalToAFreshPlanOnEveryCall) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    using Signal = std::vector<std::complex<float>>;
    std::vector<Signal> signals(4, Signal(FFT_SIZE));
    const std::vector<float> tone = sine(FFT_SIZE, 0.8, 997.0 * 8192.0 / 48000.0);
    for (std::size_t i = 0; i < FFT_SIZE; ++i) {
        signals[0][i] = {tone[i], 0.0f};
        signals[1][i] = {dist(rng), 0.0f};
    }
    signals[2][3] = {1.0f, 0.0f};
    for (int round = 0; round < 3; ++round) {
        for (const auto& in : signals) {
            const std::vector<std::complex<float>> fresh = runFFT(in);
            ASSERT_EQ(fresh.size(), FFT_SIZE);
            const std::complex<float>* kept = runKeptFFT(in.data());
            ASSERT_NE(kept, nullptr);
            ASSERT_EQ(std::memcmp(kept, fresh.data(), FFT_SIZE * sizeof(std::complex<float>)), 0)
                << "round " << round << ", signal " << (&in - signals.data());
        }
    }
}

TEST(ProcessFFT, SineOf256CyclesPeaksAtBin256) {
    resetSharedState();
    RecordingMessaging sink;
    const auto s = sine(1024, 0.5, 256);
    processFFT(s.data(), 1024, 44100);

    const auto spec = publishedSpectrum();
    ASSERT_EQ(spec.size(), 4096u);
    EXPECT_EQ(spec[256], 1.0f);
    for (float v : spec) {
        ASSERT_GE(v, 0.0f);
        ASSERT_LE(v, 1.0f);
    }
    const auto lines = sink.debugLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "[FFT] processFFT called\n");
    const ParsedLine p = parseMaxLine(lines[1]);
    EXPECT_EQ(p.bin, 256u);
    EXPECT_NEAR(p.freq, 256.0 * 44100 / 8192, 0.006);
    EXPECT_NEAR(p.mag, 5.319, 0.002);
    EXPECT_EQ(lines[1].rfind("[FFT] MaxBin: 256, Freq: 1378.1", 0), 0u) << lines[1];
}

TEST(ProcessFFT, SilenceEmptyInputTiesAndTinyPeaks) {
    resetSharedState();
    RecordingMessaging sink;

    // A count of 0 and all-zero samples: all-zero spectrum, bin 0, 0.00 Hz, 0.00000.
    const std::vector<float> zeros(1024, 0.0f);
    processFFT(zeros.data(), 0, 48000);
    processFFT(zeros.data(), 1024, 48000);
    auto lines = sink.debugLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], "[FFT] MaxBin: 0, Freq: 0.00 Hz, Mag: 0.00000\n");
    EXPECT_EQ(lines[3], "[FFT] MaxBin: 0, Freq: 0.00 Hz, Mag: 0.00000\n");
    auto spec = publishedSpectrum();
    ASSERT_EQ(spec.size(), 4096u);
    for (float v : spec) ASSERT_EQ(v, 0.0f);

    // An impulse at index 0 has the same magnitude in every bin: the lowest bin wins the tie
    // and normalisation makes every bin exactly 1.
    std::vector<float> impulse(1024, 0.0f);
    impulse[0] = 1e12f;  // times the first coefficient (about -1.39e-17) gives about 1.39e-5
    processFFT(impulse.data(), 1024, 48000);
    EXPECT_EQ(parseMaxLine(sink.debugLines().back()).bin, 0u);
    spec = publishedSpectrum();
    for (float v : spec) ASSERT_EQ(v, 1.0f);

    // A peak between 1e-8 and 1e-6: zeros are published, yet the line names the real bin.
    const auto faint = sine(1024, 0.5 * 1e-7 / 5.319, 256);
    processFFT(faint.data(), 1024, 44100);
    const ParsedLine p = parseMaxLine(sink.debugLines().back());
    EXPECT_EQ(p.bin, 256u);
    EXPECT_NEAR(p.freq, 1378.125, 0.006);
    EXPECT_EQ(p.mag, 0.0);
    spec = publishedSpectrum();
    ASSERT_EQ(spec.size(), 4096u);
    for (float v : spec) ASSERT_EQ(v, 0.0f);
}

TEST(ProcessFFT, CountAbove8192UsesTheFirst8192Samples) {
    resetSharedState();
    RecordingMessaging sink;
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> s(10000);
    for (auto& v : s) v = dist(rng);
    processFFT(s.data(), 10000, 48000);
    const auto longer = publishedSpectrum();
    const auto longerLine = sink.debugLines().back();
    s.resize(8192);
    processFFT(s.data(), 8192, 48000);
    EXPECT_EQ(publishedSpectrum(), longer);
    EXPECT_EQ(sink.debugLines().back(), longerLine);
}

// The spectrogram's own analysis of 2048 samples: a sine's peak reads its level in dBFS (full scale
// 0, -20 dBFS -20, off bin centres: within the window's 0.83 dB scalloping loss) in its frequency's
// row of 80 (log, 20 Hz..Nyquist); rows 3 or more from the line stay under -90 dBFS (no leakage
// wash); silence: the floor.
TEST(SpectrogramAnalysis, ColumnIsCalibratedInDbfsOnALogFrequencyAxisAndDarkAwayFromTheLine) {
    const struct {
        std::int32_t rate;
        double hz, amplitude, dbfs;
        int row;   // floor(80 ln(hz / 20) / ln(rate / 40)): 44.1, 59.8, 44.7, 60.5, 44.1, 0
    } cases[] = {{48000, 1000, 1.0, 0, 44}, {48000, 4000, 0.1, -20, 59}, {44100, 1000, 0.1, -20, 44},
                 {44100, 4000, 1.0, 0, 60}, {48000, 1000, 0.5, -6.02, 44},
                 {48000, 20, 0.0, SPECTROGRAM_FLOOR_DBFS, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hz);
        const auto s = sine(SPECTROGRAM_FFT_SIZE, c.amplitude, c.hz * 8192 / c.rate);
        float column[SPECTROGRAM_ROWS];
        ASSERT_TRUE(analyseSpectrogramColumn(s.data(), c.rate, column));
        const float* loudest = std::max_element(column, column + SPECTROGRAM_ROWS);
        EXPECT_NEAR(*loudest, c.dbfs, 0.9);   // silence: nothing above the floor, nothing below
        EXPECT_EQ(loudest - column, c.row);
        EXPECT_EQ(spectrogramRow(c.hz, c.rate, SPECTROGRAM_ROWS), c.row);
        for (int r = 0; r < static_cast<int>(SPECTROGRAM_ROWS); ++r)
            EXPECT_TRUE(std::abs(r - c.row) < 3 || column[r] < -90.0f) << r << ": " << column[r];
    }
}
