// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// The newest spectrum: empty, or FFT_SIZE / 2 values in [0, 1]. Counts its own changes, as
// WaveformBuffer does, so a reader can tell whether it may differ from what it copied last (the
// render thread skips unchanged frames with it). Not thread-safe by itself; callers hold
// spectrumMutex around every call.
class SpectrumBuffer {
public:
    // Takes `bins` as the new spectrum by exchange: the lock is held for a swap of pointers, and
    // `bins` gets the old spectrum's storage back for the next one.
    void replace(std::vector<float>& bins) {
        bins_.swap(bins);
        ++generation_;
    }
    void clear() {
        bins_.clear();
        ++generation_;
    }
    const std::vector<float>& bins() const { return bins_; }
    bool empty() const { return bins_.empty(); }
    std::size_t size() const { return bins_.size(); }
    std::uint64_t generation() const { return generation_; }

private:
    std::vector<float> bins_;
    std::uint64_t generation_ = 0;
};
