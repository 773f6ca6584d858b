// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Windowed FFT analysis of the newest samples, published to spectrumBuffer for the display.
// Runs on the capture thread or the playback thread, one at a time, holding fftInputMutex (FFTW's
// planner is not thread-safe and no other thread uses it).
#include <complex>
#include <cstddef>
#include <cstdint>
#include <vector>

// Fills blackmanWin with FFT_SIZE symmetric Blackman coefficients, once per process.
void initBlackman();

// Unnormalised forward DFT of `input` (length >= 1) through FFTW single precision; a new
// FFTW_ESTIMATE plan per call. Returns an empty vector if FFTW cannot supply arrays or a plan.
std::vector<std::complex<float>> runFFT(const std::vector<std::complex<float>>& input);

// The same transform for FFT_SIZE points through one plan and pair of arrays kept for the
// process (made on the first call): copies FFT_SIZE values from `input`, transforms, and
// returns the FFT_SIZE results, valid until the next call. Bit for bit what runFFT returns for
// the same input. Null if FFTW could not supply the arrays or the plan. One caller at a time
// (the capture or playback thread holds fftInputMutex).
const std::complex<float>* runKeptFFT(const std::complex<float>* input);

// Weights the first min(count, FFT_SIZE) samples with the first Blackman coefficients,
// zero-pads to FFT_SIZE, transforms, normalises the 4096 magnitudes to the peak, publishes them
// in spectrumBuffer (under spectrumMutex) for the waveform view's red line, and emits the two
// "[FFT]" debug lines. The spectrogram has an analysis of its own (spectrogram_analysis.h).
// Caller: the capture or playback thread, holding fftInputMutex.
void processFFT(const float* samples, std::uint64_t count, std::int32_t sampleRate);
