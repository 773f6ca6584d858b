// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/waveform_buffer.h"

#include <algorithm>
#include <cstring>

WaveformBuffer::WaveformBuffer(std::size_t capacity) : ring_(capacity) {}

void WaveformBuffer::append(const std::int16_t* samples, std::size_t count) {
    const std::size_t cap = ring_.size();
    if (cap == 0 || count == 0) return;
    ++generation_;
    if (count >= cap) {
        // Only the newest `cap` samples survive; lay them out from index 0.
        std::memcpy(ring_.data(), samples + (count - cap), cap * sizeof(std::int16_t));
        head_ = 0;
        count_ = cap;
        return;
    }
    std::size_t tail = (head_ + count_) % cap;          // where the next sample goes
    const std::size_t first = std::min(count, cap - tail);
    std::memcpy(ring_.data() + tail, samples, first * sizeof(std::int16_t));
    std::memcpy(ring_.data(), samples + first, (count - first) * sizeof(std::int16_t));
    const std::size_t total = count_ + count;
    if (total > cap) {
        head_ = (head_ + (total - cap)) % cap;
        count_ = cap;
    } else {
        count_ = total;
    }
}

void WaveformBuffer::clear() {
    ++generation_;
    head_ = 0;
    count_ = 0;
}

void WaveformBuffer::copyTo(std::vector<std::int16_t>& out) const {
    out.resize(count_);
    if (count_ == 0) return;
    const std::size_t cap = ring_.size();
    const std::size_t first = std::min(count_, cap - head_);
    std::memcpy(out.data(), ring_.data() + head_, first * sizeof(std::int16_t));
    std::memcpy(out.data() + first, ring_.data(), (count_ - first) * sizeof(std::int16_t));
}

std::vector<std::int16_t> WaveformBuffer::snapshot() const {
    std::vector<std::int16_t> out;
    copyTo(out);
    return out;
}

void WaveformBuffer::copyEvery(std::size_t step, std::vector<std::int16_t>& out) const {
    out.clear();
    const std::size_t cap = ring_.size();
    for (std::size_t i = 0; i < count_; i += step) out.push_back(ring_[(head_ + i) % cap]);
}
