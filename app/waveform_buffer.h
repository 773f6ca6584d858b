// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// Holds the newest `capacity` 16-bit samples, oldest first when read.
//
// A ring rather than a vector trimmed at the front: once the display buffer is full, every packet
// would otherwise memmove 128 KB on the capture thread. Not thread-safe by itself; callers hold
// waveformMutex around every call.
class WaveformBuffer {
public:
    explicit WaveformBuffer(std::size_t capacity);

    // Appends samples; when more than `capacity` are held, the oldest are dropped.
    void append(const std::int16_t* samples, std::size_t count);
    void clear();
    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    std::size_t capacity() const { return ring_.size(); }
    // Changes with every append and clear, so a reader can tell whether the contents may differ
    // from what it copied last (the render thread skips unchanged frames with it).
    std::uint64_t generation() const { return generation_; }

    // Replaces `out` with the held samples, oldest first. Reuses out's storage.
    void copyTo(std::vector<std::int16_t>& out) const;
    std::vector<std::int16_t> snapshot() const;
    // Replaces `out` with every `step`-th held sample (step >= 1): oldest-first indices 0, step,
    // 2 * step, ... below size(). Reuses out's storage.
    void copyEvery(std::size_t step, std::vector<std::int16_t>& out) const;

private:
    std::vector<std::int16_t> ring_;
    std::size_t head_ = 0;   // index of the oldest sample
    std::size_t count_ = 0;
    std::uint64_t generation_ = 0;
};
