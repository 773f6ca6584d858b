// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/spectrogram_analysis.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

#include "analysis/spectrogram_levels.h"
#include "app/app_state.h"

SpectrogramFeed spectrogramFeed;

namespace {

constexpr std::size_t BINS = SPECTROGRAM_FFT_SIZE / 2;   // up to, not including, Nyquist

// The 4-term Blackman-Harris window's coefficients (highest sidelobe -92 dB, falling off
// further out); Hann's -31 dB or Blackman's -58 dB would leave a loud tone's wash visible on the
// view's 100 dB scale.
constexpr double BH_A0 = 0.35875, BH_A1 = 0.48829, BH_A2 = 0.14128, BH_A3 = 0.01168;

// One owner for the spectrogram's FFTW arrays and real-to-complex plan, with the window and the
// magnitudes beside them; released on every path. Made by the first analysis (the capture
// thread, holding fftInputMutex, which then guards all of it); released at exit.
struct SpectrogramTransform {
    float* in = nullptr;                 // SPECTROGRAM_FFT_SIZE weighted samples
    fftwf_complex* out = nullptr;        // SPECTROGRAM_FFT_SIZE / 2 + 1 bins
    fftwf_plan plan = nullptr;
    std::array<float, SPECTROGRAM_FFT_SIZE> window{};
    std::array<float, BINS> magnitude{};
    float fullScale = 0.0f;

    SpectrogramTransform() {
        // Periodic form (the DFT's own period): the sidelobes sit exactly at the design's level.
        for (std::size_t i = 0; i < SPECTROGRAM_FFT_SIZE; ++i) {
            const double x = 2.0 * 3.14159265358979323846 * static_cast<double>(i) /
                             static_cast<double>(SPECTROGRAM_FFT_SIZE);
            window[i] = static_cast<float>(BH_A0 - BH_A1 * std::cos(x) + BH_A2 * std::cos(2.0 * x) -
                                           BH_A3 * std::cos(3.0 * x));
        }
        fullScale = fullScaleMagnitude(window.data(), window.size());
        in = static_cast<float*>(fftwf_malloc(sizeof(float) * SPECTROGRAM_FFT_SIZE));
        out = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * (BINS + 1)));
        if (in && out)
            plan = fftwf_plan_dft_r2c_1d(static_cast<int>(SPECTROGRAM_FFT_SIZE), in, out,
                                         FFTW_ESTIMATE);
    }
    SpectrogramTransform(const SpectrogramTransform&) = delete;
    SpectrogramTransform& operator=(const SpectrogramTransform&) = delete;
    ~SpectrogramTransform() {
        if (plan) fftwf_destroy_plan(plan);
        if (in) fftwf_free(in);
        if (out) fftwf_free(out);
    }
};

SpectrogramTransform& spectrogramTransform() {
    static SpectrogramTransform kept;
    return kept;
}

}  // namespace

bool analyseSpectrogramColumn(const float* samples, std::int32_t sampleRate, float* levels) {
    SpectrogramTransform& t = spectrogramTransform();
    if (!t.plan) return false;
    for (std::size_t i = 0; i < SPECTROGRAM_FFT_SIZE; ++i) t.in[i] = samples[i] * t.window[i];
    fftwf_execute(t.plan);
    // Single precision is enough here: the squares of what the view shows (-100 dBFS and up,
    // magnitudes above 3.7e-3) are far from float's limits.
    for (std::size_t k = 0; k < BINS; ++k)
        t.magnitude[k] = std::sqrt(t.out[k][0] * t.out[k][0] + t.out[k][1] * t.out[k][1]);
    return spectrogramLevels(t.magnitude.data(), SPECTROGRAM_FFT_SIZE, sampleRate, t.fullScale,
                             levels);
}

void SpectrogramFeed::add(const float* interleaved, std::size_t frames, std::int32_t channels,
                          std::int32_t sampleRate) {
    if (channels <= 0) return;
    const std::size_t stride = static_cast<std::size_t>(channels);
    while (frames > 0) {
        const std::size_t take = std::min(frames, SPECTROGRAM_HOP - pending_);
        float* to = samples_.data() + SPECTROGRAM_FFT_SIZE + pending_;
        for (std::size_t f = 0; f < take; ++f) to[f] = interleaved[f * stride];
        interleaved += take * stride;
        frames -= take;
        pending_ += take;
        if (pending_ < SPECTROGRAM_HOP) return;

        const float* newest = samples_.data() + SPECTROGRAM_HOP;
        if (analyseSpectrogramColumn(newest, sampleRate, levels_.data())) {
            std::lock_guard<std::mutex> lock(spectrumMutex);
            spectrogramHistory.add(levels_.data(), SPECTROGRAM_HOP, sampleRate);
        }
        std::memmove(samples_.data(), newest, SPECTROGRAM_FFT_SIZE * sizeof(float));
        pending_ = 0;
    }
}

void SpectrogramFeed::clear() {
    samples_.fill(0.0f);
    pending_ = 0;
}
