// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

constexpr std::size_t SPECTROGRAM_ROWS = 80;        // frequency rows: one per view pixel
constexpr std::size_t SPECTROGRAM_COLUMNS = 1024;   // columns kept, all of them across the view
constexpr std::uint64_t SPECTROGRAM_SECONDS = 24;   // time the columns span, at any rate

// The take's spectrogram: the newest SPECTROGRAM_COLUMNS columns, each SPECTROGRAM_ROWS levels
// in dBFS, row 0 the lowest frequency (analysis/spectrogram_levels.h says which rows and levels).
// A column stands for a fixed stretch of time, SPECTROGRAM_SECONDS / SPECTROGRAM_COLUMNS (23 ms),
// whatever the rate and however the packets fall: the analyses that end within one are merged
// into it (at 384 kHz about eight), and one that ends several columns after the previous
// analysis fills all of them (at 8 kHz about six). The capture thread adds every analysis; the
// render thread copies the columns it has not drawn yet. A ring with counters, not the newest
// column only: the render thread looks every 16 ms or so, and a view that was hidden catches
// up on the columns it missed. Not thread-safe by itself; callers hold spectrumMutex.
class SpectrogramHistory {
public:
    // One analysis's SPECTROGRAM_ROWS levels, standing for the `newSamples` samples at
    // `sampleRate` Hz that arrived since the one before: merged into the column being built, row
    // by row the loudest; that column, and any after it that end before the analysis does, are
    // then complete and counted. The ring (320 KiB) is allocated by the first call.
    void add(const float* levels, std::uint64_t newSamples, std::int32_t sampleRate);
    // Start: the take is forgotten (no column, the one being built dropped), a new take begins.
    void clear();

    std::uint64_t take() const { return take_; }
    std::uint64_t columns() const { return columns_; }   // complete columns of this take
    std::int32_t sampleRate() const { return sampleRate_; }
    // Column `index`, for columns() - SPECTROGRAM_COLUMNS <= index < columns().
    const float* column(std::uint64_t index) const {
        return ring_.data() + (index % SPECTROGRAM_COLUMNS) * SPECTROGRAM_ROWS;
    }

private:
    float* slot(std::uint64_t index) {
        return ring_.data() + (index % SPECTROGRAM_COLUMNS) * SPECTROGRAM_ROWS;
    }
    std::vector<float> ring_;
    bool merging_ = false;       // the column being built (index columns_) holds an analysis
    std::uint64_t elapsed_ = 0;  // its samples so far, times SPECTROGRAM_COLUMNS
    std::uint64_t columns_ = 0;
    std::uint64_t take_ = 0;
    std::int32_t sampleRate_ = 0;
};
