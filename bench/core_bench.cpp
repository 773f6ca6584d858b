// SPDX-License-Identifier: GPL-3.0-or-later
// Capture-path cost: the whole packet step against the bare spectrum analysis and the
// spectrogram's analysis it contains.
// Counters report seconds of audio processed per CPU second ("audio_x": times real time).
#include <benchmark/benchmark.h>

#include <fftw3.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "analysis/fft_analysis.h"
#include "analysis/spectrogram_analysis.h"
#include "app/app_state.h"
#include "capture/packet_pipeline.h"
#include "capture/wav_header.h"

namespace {

constexpr int RATE = 48000;
constexpr std::uint32_t FRAMES = 480;  // 10 ms, a typical shared-mode capture period

std::vector<float> stereoPacket(std::uint32_t index) {
    std::vector<float> p(FRAMES * 2);
    for (std::uint32_t i = 0; i < FRAMES; ++i) {
        const double t = static_cast<double>(index * FRAMES + i) / RATE;
        p[2 * i] = static_cast<float>(0.5 * std::sin(2 * 3.141592653589793 * 1000 * t));
        p[2 * i + 1] = static_cast<float>(0.25 * std::sin(2 * 3.141592653589793 * 440 * t));
    }
    return p;
}

// The whole packet step, writing a real (unbuffered, as the capture thread opens it) file.
void BM_PacketPipeline(benchmark::State& state) {
    globalSampleRate = RATE;
    const auto path = std::filesystem::temp_directory_path() / "sonabel-bench.wav";
    std::vector<std::vector<float>> packets;
    for (std::uint32_t i = 0; i < 100; ++i) packets.push_back(stereoPacket(i));
    std::ofstream file;
    file.rdbuf()->pubsetbuf(nullptr, 0);
    file.open(path, std::ios::binary | std::ios::trunc);
    writeWavHeader(file, RATE, 16, 2, 0, false);
    std::uint64_t written = 0;
    std::size_t n = 0;
    for (auto _ : state) {
        processCapturePacket(packets[n % packets.size()].data(), FRAMES, 2, file, written, nullptr);
        if (++n % 20000 == 0) {  // keep the file from growing without bound (38 MB)
            state.PauseTiming();
            file.seekp(static_cast<std::streamoff>(WAV_HEADER_SIZE));
            state.ResumeTiming();
        }
    }
    file.close();
    std::filesystem::remove(path);
    state.counters["audio_x"] = benchmark::Counter(static_cast<double>(state.iterations()) * FRAMES / RATE,
                                                   benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PacketPipeline)->MinTime(2.0);

// processFFT alone: one call per 1024 selected samples.
void BM_ProcessFFT(benchmark::State& state) {
    std::vector<float> block(FFT_FEED_BLOCK);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<float>(std::sin(0.13 * static_cast<double>(i)));
    for (auto _ : state) processFFT(block.data(), block.size(), RATE);
    state.counters["audio_x"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * FFT_FEED_BLOCK / RATE, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ProcessFFT)->MinTime(2.0);

// The spectrogram's analysis alone: the 2048-point Blackman-Harris window, the kept real-to-complex
// transform, the magnitudes and the 80 rows' levels, one call per SPECTROGRAM_HOP new frames.
void BM_SpectrogramAnalysis(benchmark::State& state) {
    std::vector<float> block(SPECTROGRAM_FFT_SIZE);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<float>(std::sin(0.13 * static_cast<double>(i)));
    float levels[SPECTROGRAM_ROWS];
    for (auto _ : state) {
        analyseSpectrogramColumn(block.data(), RATE, levels);
        benchmark::DoNotOptimize(levels);
    }
    state.counters["audio_x"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * SPECTROGRAM_HOP / RATE, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SpectrogramAnalysis)->MinTime(2.0);

// The bare analysis: a FFTW_ESTIMATE plan, the 8192-point transform and double-precision
// magnitudes of the 4096 kept bins, per 1024 samples of audio.
void BM_BareAnalysis(benchmark::State& state) {
    fftwf_complex* in = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * FFT_SIZE));
    fftwf_complex* out = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * FFT_SIZE));
    // The same windowed block processFFT transforms (the magnitudes' cost depends on the data).
    initBlackman();
    for (std::size_t i = 0; i < FFT_SIZE; ++i) {
        in[i][0] = i < 1024 ? static_cast<float>(std::sin(0.13 * static_cast<double>(i))) * blackmanWin[i] : 0.0f;
        in[i][1] = 0.0f;
    }
    std::vector<float> mags(FFT_SIZE / 2);
    for (auto _ : state) {
        fftwf_plan plan = fftwf_plan_dft_1d(static_cast<int>(FFT_SIZE), in, out, FFTW_FORWARD, FFTW_ESTIMATE);
        fftwf_execute(plan);
        fftwf_destroy_plan(plan);
        for (std::size_t k = 0; k < mags.size(); ++k)
            mags[k] = static_cast<float>(std::hypot(static_cast<double>(out[k][0]), static_cast<double>(out[k][1])));
        benchmark::DoNotOptimize(mags.data());
    }
    fftwf_free(in);
    fftwf_free(out);
    state.counters["audio_x"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * FFT_FEED_BLOCK / RATE, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BareAnalysis)->MinTime(2.0);

// The transform alone (plan made once), for scale.
void BM_FftwTransformOnly(benchmark::State& state) {
    fftwf_complex* in = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * FFT_SIZE));
    fftwf_complex* out = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * FFT_SIZE));
    fftwf_plan plan = fftwf_plan_dft_1d(static_cast<int>(FFT_SIZE), in, out, FFTW_FORWARD, FFTW_ESTIMATE);
    for (std::size_t i = 0; i < FFT_SIZE; ++i) in[i][0] = in[i][1] = 0.0f;
    for (auto _ : state) {
        fftwf_execute(plan);
        benchmark::DoNotOptimize(out);
    }
    fftwf_destroy_plan(plan);
    fftwf_free(in);
    fftwf_free(out);
}
BENCHMARK(BM_FftwTransformOnly)->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();
