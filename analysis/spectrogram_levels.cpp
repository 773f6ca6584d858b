// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/spectrogram_levels.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "app/spectrogram_history.h"

namespace {

// The bins of each row, first and last inclusive, for one sample rate and transform size.
struct RowBands {
    std::int32_t sampleRate = 0;
    std::size_t fftSize = 0;
    std::array<std::size_t, SPECTROGRAM_ROWS> first{};
    std::array<std::size_t, SPECTROGRAM_ROWS> last{};
};

void buildBands(RowBands& b, std::size_t fftSize, std::int32_t sampleRate) {
    const double binsPerHz = static_cast<double>(fftSize) / sampleRate;
    const double lastBin = static_cast<double>(fftSize / 2) - 1.0;
    const double ratio = sampleRate / 2.0 / SPECTROGRAM_LOWEST_HZ;
    auto edge = [&](std::size_t row) {   // lower edge of `row`, in Hz
        return SPECTROGRAM_LOWEST_HZ * std::pow(ratio, static_cast<double>(row) / SPECTROGRAM_ROWS);
    };
    for (std::size_t r = 0; r < SPECTROGRAM_ROWS; ++r) {
        const double low = edge(r), high = edge(r + 1);
        // Bin k lies in the row when low <= k / binsPerHz < high.
        const double first = std::ceil(low * binsPerHz);
        const double last = std::min(std::ceil(high * binsPerHz) - 1.0, lastBin);
        if (last >= first) {
            b.first[r] = static_cast<std::size_t>(first);
            b.last[r] = static_cast<std::size_t>(last);
        } else {
            const double centre = std::round(std::sqrt(low * high) * binsPerHz);
            b.first[r] = b.last[r] = static_cast<std::size_t>(std::min(centre, lastBin));
        }
    }
    b.sampleRate = sampleRate;
    b.fftSize = fftSize;
}

}  // namespace

double spectrogramHeight(double hz, double sampleRate) {
    return std::log(hz / SPECTROGRAM_LOWEST_HZ) /
           std::log(sampleRate / 2.0 / SPECTROGRAM_LOWEST_HZ);
}

int spectrogramRow(double hz, double sampleRate, int rows) {
    return static_cast<int>(std::floor(rows * spectrogramHeight(hz, sampleRate)));
}

float fullScaleMagnitude(const float* window, std::size_t length) {
    double sum = 0.0;
    for (std::size_t i = 0; i < length; ++i) sum += window[i];
    return static_cast<float>(sum / 2.0);
}

float levelDbfs(float magnitude, float fullScale) {
    if (!(magnitude > 0.0f) || !(fullScale > 0.0f)) return SPECTROGRAM_FLOOR_DBFS;
    const double db = 20.0 * std::log10(static_cast<double>(magnitude) / fullScale);
    return std::max(static_cast<float>(db), SPECTROGRAM_FLOOR_DBFS);
}

bool spectrogramLevels(const float* magnitude, std::size_t fftSize, std::int32_t sampleRate,
                       float fullScale, float* levels) {
    if (sampleRate <= 2 * SPECTROGRAM_LOWEST_HZ || fftSize < 2) return false;
    thread_local RowBands bands;
    if (bands.sampleRate != sampleRate || bands.fftSize != fftSize)
        buildBands(bands, fftSize, sampleRate);
    for (std::size_t r = 0; r < SPECTROGRAM_ROWS; ++r) {
        const float loudest =
            *std::max_element(magnitude + bands.first[r], magnitude + bands.last[r] + 1);
        levels[r] = levelDbfs(loudest, fullScale);
    }
    return true;
}
