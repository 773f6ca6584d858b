// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The spectrogram's own analysis of channel 0: a SPECTROGRAM_FFT_SIZE-point transform of the
// newest samples under a full 4-term Blackman-Harris window, one per SPECTROGRAM_HOP new frames.
// Separate from the red spectrum line's analysis (fft_analysis.h), whose short weighting spreads a
// tone over every bin 30 to 50 dB below it; this window's sidelobes lie 92 dB below the tone, so a
// -6 dBFS sine leaves its column dark (under -98 dBFS) two rows from its line, from about 1 kHz up
// at 48 kHz (lower down, the main lobe's +-94 Hz spans several rows). Runs on the capture thread
// or the playback thread, holding fftInputMutex (FFTW's planner is not thread-safe).
#include <array>
#include <cstddef>
#include <cstdint>

#include "app/spectrogram_history.h"

// Samples per analysis, and the transform's size: 43 ms at 48 kHz, bins 23 Hz apart.
constexpr std::size_t SPECTROGRAM_FFT_SIZE = 2048;
// New channel-0 frames between analyses: a quarter of the window. At 75 % overlap every instant
// lies within an eighth of the window from some analysis's centre, where the Blackman-Harris
// weight is at least 0.70 (-3 dB), so a click is never lost between two analyses; at 50 % one
// halfway between two centres would be weighted 0.22 (-13 dB). At 44.1 and 48 kHz that is about
// two analyses per column (23 ms), merged row by row by the history; the cost is small (see
// bench/core_bench.cpp, BM_SpectrogramAnalysis).
constexpr std::size_t SPECTROGRAM_HOP = SPECTROGRAM_FFT_SIZE / 4;

// One analysis: weights SPECTROGRAM_FFT_SIZE samples (oldest first) by the window, transforms
// them through the kept real-to-complex plan and writes their column (spectrogram_levels.h) to
// `levels` (SPECTROGRAM_ROWS values). False, with nothing written, if FFTW could not supply the
// plan or its arrays, or the rate leaves nothing above 20 Hz. The plan, its arrays and the
// window are made by the first call and kept for the process. One caller at a time (the capture
// thread holds fftInputMutex); allocates nothing after the first call.
bool analyseSpectrogramColumn(const float* samples, std::int32_t sampleRate, float* levels);

// Channel 0 of the take, gathered for the spectrogram whatever the channel count: each time
// SPECTROGRAM_HOP new frames have come, the newest SPECTROGRAM_FFT_SIZE (zeros before the take's
// first) are analysed and their column is added to spectrogramHistory (under spectrumMutex) as
// standing for those SPECTROGRAM_HOP frames, so the view's time is the frames' time. A large
// packet gives one analysis per hop it completes, each of the samples up to its own end; fewer
// than a hop's frames wait for the next packet. Not thread-safe by itself: the capture thread,
// the playback thread and the tests use it holding fftInputMutex (then spectrumMutex inside, the one lock order).
class SpectrogramFeed {
public:
    // `frames` frames of `channels` interleaved samples at `sampleRate` Hz.
    void add(const float* interleaved, std::size_t frames, std::int32_t channels,
             std::int32_t sampleRate);
    // A new recording: no samples, no frames waiting.
    void clear();

private:
    // [0, SPECTROGRAM_FFT_SIZE): the samples up to the last analysis's end, oldest first;
    // then `pending_` frames since. An analysis reads SPECTROGRAM_FFT_SIZE in one piece from
    // SPECTROGRAM_HOP on and slides them down (8 KiB moved per hop).
    std::array<float, SPECTROGRAM_FFT_SIZE + SPECTROGRAM_HOP> samples_{};
    std::size_t pending_ = 0;
    std::array<float, SPECTROGRAM_ROWS> levels_{};
};

// The capture or playback thread's feed: guarded by fftInputMutex; cleared when a recording or a
// playback begins.
extern SpectrogramFeed spectrogramFeed;
