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

    // Replaces `out` with the held samples, oldest first. Reuses out's storage.
    void copyTo(std::vector<std::int16_t>& out) const;
    std::vector<std::int16_t> snapshot() const;

private:
    std::vector<std::int16_t> ring_;
    std::size_t head_ = 0;   // index of the oldest sample
    std::size_t count_ = 0;
};
