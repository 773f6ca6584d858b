// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The spectrogram's column of one analysis: for each of SPECTROGRAM_ROWS frequency rows, spaced
// logarithmically from 20 Hz (bottom) to the Nyquist frequency (top), the level of its loudest
// bin in dBFS, calibrated so that a sine's peak reads the sine's own level (full scale: 0 dBFS).
// Portable and pure; the capture thread computes a column per analysis from the absolute
// magnitudes, before they are normalised for the waveform view's red line.
#include <cstddef>
#include <cstdint>

constexpr float SPECTROGRAM_FLOOR_DBFS = -100.0f;   // silence and anything quieter
constexpr double SPECTROGRAM_LOWEST_HZ = 20.0;      // the bottom edge of row 0

// Where `hz` lies on the frequency axis of a take at `sampleRate`: 0 at 20 Hz, 1 at the Nyquist
// frequency, log(hz / 20) / log(sampleRate / 2 / 20) (below 0 and above 1 outside them).
double spectrogramHeight(double hz, double sampleRate);

// The row of `rows` (0 = bottom) whose band holds `hz`: floor(rows * spectrogramHeight), so
// -1 or less below 20 Hz and `rows` or more from the Nyquist frequency on.
int spectrogramRow(double hz, double sampleRate, int rows);

// A full-scale sine's peak magnitude after the analysis's weighting of `count` samples (at most
// FFT_SIZE are used) and its unnormalised transform: half the sum of the coefficients used (the
// window's coherent gain times the samples, halved for the sine's negative-frequency half; the
// zero padding adds nothing). Calls initBlackman.
float fullScaleMagnitude(std::size_t count);

// 20 log10(magnitude / fullScale), never below SPECTROGRAM_FLOOR_DBFS (silence: the floor).
float levelDbfs(float magnitude, float fullScale);

// Fills `levels` (SPECTROGRAM_ROWS values) from the FFT_SIZE / 2 absolute magnitudes of an
// analysis of `count` samples at `sampleRate`: each row the level of its loudest bin; a row
// narrower than the bins' spacing (low frequencies) takes the bin nearest its centre. False,
// with nothing written, when the rate leaves nothing above 20 Hz. Keeps its band table per
// thread, rebuilt when the rate changes.
bool spectrogramLevels(const float* magnitude, std::size_t count, std::int32_t sampleRate,
                       float* levels);
