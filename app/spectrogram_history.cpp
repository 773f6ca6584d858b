// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/spectrogram_history.h"

#include <algorithm>
#include <cstring>

void SpectrogramHistory::add(const float* levels, std::uint64_t newSamples,
                             std::int32_t sampleRate) {
    if (sampleRate <= 0) return;
    ring_.resize(SPECTROGRAM_COLUMNS * SPECTROGRAM_ROWS);
    float* building = slot(columns_);
    if (!merging_) {
        std::memcpy(building, levels, SPECTROGRAM_ROWS * sizeof(float));
    } else {
        for (std::size_t r = 0; r < SPECTROGRAM_ROWS; ++r)
            building[r] = std::max(building[r], levels[r]);
    }
    merging_ = true;
    sampleRate_ = sampleRate;
    // Whole numbers throughout: a column is sampleRate * SPECTROGRAM_SECONDS / SPECTROGRAM_COLUMNS
    // samples, which need not be a whole number (44.1 kHz: 1033.59).
    elapsed_ += newSamples * SPECTROGRAM_COLUMNS;
    const std::uint64_t perColumn = static_cast<std::uint64_t>(sampleRate) * SPECTROGRAM_SECONDS;
    if (elapsed_ < perColumn) return;
    const std::uint64_t complete = elapsed_ / perColumn;
    elapsed_ %= perColumn;
    for (std::uint64_t c = 1; c < complete && c < SPECTROGRAM_COLUMNS; ++c)
        std::memcpy(slot(columns_ + c), building, SPECTROGRAM_ROWS * sizeof(float));
    columns_ += complete;
    merging_ = false;
}

void SpectrogramHistory::clear() {
    merging_ = false;
    elapsed_ = 0;
    columns_ = 0;
    ++take_;
}
