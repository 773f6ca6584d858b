// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/fft_analysis.h"

#include <fftw3.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/app_state.h"
#include "app/messaging.h"

namespace {

// Single-precision constants with the exact bits the analysis has always used.
constexpr float TWO_PI_F = 6.2831855f;      // 0x40C90FDB
constexpr float FOUR_PI_F = 12.566371f;     // 0x41490FDB
constexpr float PEAK_FLOOR = 1e-8f;         // 0x322BCC77: running maximum starts here
constexpr float SILENCE_LIMIT = 1e-6f;      // 0x358637BD: at or below, publish zeros
constexpr std::size_t BINS = FFT_SIZE / 2;

// One owner for a pair of FFTW arrays and their plan; released on every path.
struct FftwScratch {
    fftwf_complex* in = nullptr;
    fftwf_complex* out = nullptr;
    fftwf_plan plan = nullptr;
    FftwScratch() = default;
    FftwScratch(const FftwScratch&) = delete;
    FftwScratch& operator=(const FftwScratch&) = delete;
    ~FftwScratch() {
        if (plan) fftwf_destroy_plan(plan);
        if (in) fftwf_free(in);
        if (out) fftwf_free(out);
    }
};

// The analysis's FFT_SIZE-point transform, planned once: FFTW_ESTIMATE picks its algorithm from
// the size, the flags and the arrays' alignment alone, so a plan kept with its own arrays
// computes the numbers a fresh plan would (the tests compare them bit for bit), without a
// planner run and three 64 KiB allocations 47 times a second. Made by the first caller (the
// capture thread, holding fftInputMutex, which then guards the arrays); released at exit.
struct KeptTransform {
    FftwScratch s;
    KeptTransform() {
        s.in = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * FFT_SIZE));
        s.out = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * FFT_SIZE));
        if (s.in && s.out)
            s.plan = fftwf_plan_dft_1d(static_cast<int>(FFT_SIZE), s.in, s.out, FFTW_FORWARD,
                                       FFTW_ESTIMATE);
    }
};

FftwScratch& keptTransform() {
    static KeptTransform kept;
    return kept.s;
}

}  // namespace

void initBlackman() {
    if (!blackmanWin.empty()) return;
    blackmanWin.resize(FFT_SIZE);
    for (std::size_t i = 0; i < FFT_SIZE; ++i) {
        const float fi = static_cast<float>(i);
        float a = fi * TWO_PI_F;
        a = a / 8191.0f;
        float b = fi * FOUR_PI_F;
        b = b / 8191.0f;
        const double t = 0.42 - 0.5 * std::cos(static_cast<double>(a));
        const double w = std::cos(static_cast<double>(b)) * 0.08 + t;
        blackmanWin[i] = static_cast<float>(w);
    }
}

std::vector<std::complex<float>> runFFT(const std::vector<std::complex<float>>& input) {
    const std::size_t n = input.size();
    if (n == 0) return {};
    FftwScratch s;
    s.in = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * n));
    s.out = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * n));
    if (!s.in || !s.out) return {};
    // Same layout on both sides (real, imaginary), so one block copy moves every element.
    std::memcpy(s.in, input.data(), sizeof(fftwf_complex) * n);
    // FFTW_ESTIMATE never touches the arrays while planning, so filling them first is safe.
    s.plan = fftwf_plan_dft_1d(static_cast<int>(n), s.in, s.out, FFTW_FORWARD, FFTW_ESTIMATE);
    if (!s.plan) return {};
    fftwf_execute(s.plan);
    // fftwf_complex and std::complex<float> share one layout (real, imaginary), so the result
    // is built straight from the output array, without a zero-fill pass first.
    const auto* first = reinterpret_cast<const std::complex<float>*>(s.out);
    return std::vector<std::complex<float>>(first, first + n);
}

const std::complex<float>* runKeptFFT(const std::complex<float>* input) {
    FftwScratch& t = keptTransform();
    if (!t.plan) return nullptr;
    std::memcpy(t.in, input, sizeof(fftwf_complex) * FFT_SIZE);
    fftwf_execute(t.plan);
    return reinterpret_cast<const std::complex<float>*>(t.out);
}

void processFFT(const float* samples, std::uint64_t count, std::int32_t sampleRate) {
    const bool debug = debugLinesEnabled();
    if (debug) emitDebugLine("[FFT] processFFT called\n");
    initBlackman();

    // The transform input and the magnitudes keep their storage on this (the capture) thread,
    // and the transform is the kept one, so a call allocates nothing once these have grown.
    thread_local std::vector<std::complex<float>> input;
    thread_local std::vector<float> magnitude;
    input.assign(FFT_SIZE, std::complex<float>(0.0f, 0.0f));
    for (std::size_t i = 0; i < FFT_SIZE && i < count; ++i)
        input[i] = {samples[i] * blackmanWin[i], 0.0f};

    const std::complex<float>* const spectrum = runKeptFFT(input.data());
    if (spectrum == nullptr) return;  // FFTW could not allocate or plan: skip this block

    magnitude.resize(BINS);
    float maxMag = PEAK_FLOOR;
    std::size_t maxBin = 0;
    for (std::size_t k = 0; k < BINS; ++k) {
        magnitude[k] = static_cast<float>(std::hypot(static_cast<double>(spectrum[k].real()),
                                                     static_cast<double>(spectrum[k].imag())));
        if (magnitude[k] > maxMag) {
            maxMag = magnitude[k];
            maxBin = k;
        }
    }
    if (maxMag > SILENCE_LIMIT) {
        for (float& m : magnitude) m = m / maxMag;
    } else {
        std::memset(magnitude.data(), 0, magnitude.size() * sizeof(float));
    }
    const float freq = (static_cast<float>(maxBin) * static_cast<float>(sampleRate)) / 8192.0f;

    {
        // The old spectrum's storage becomes the next call's magnitude vector.
        std::lock_guard<std::mutex> lock(spectrumMutex);
        spectrumBuffer.replace(magnitude);
    }

    if (!debug) return;
    char line[128];
    std::snprintf(line, sizeof line, "[FFT] MaxBin: %zu, Freq: %.2f Hz, Mag: %.5f\n", maxBin,
                  static_cast<double>(freq), static_cast<double>(maxMag));
    emitDebugLine(line);
}
