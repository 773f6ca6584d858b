// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The spectrogram's column of one analysis: for each of SPECTROGRAM_ROWS frequency rows, spaced
// logarithmically from 20 Hz (bottom) to the Nyquist frequency (top), the level of its loudest
// bin in dBFS, calibrated so that a sine's peak reads the sine's own level (full scale: 0 dBFS).
// Portable and pure; the capture thread computes a column per spectrogram analysis
// (analysis/spectrogram_analysis.h) from that transform's absolute magnitudes.
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

// A full-scale sine's peak magnitude in the unnormalised transform of `length` samples weighted
// by `window`: half the sum of the coefficients (the window's coherent gain times the samples,
// halved for the sine's negative-frequency half). Exact on a bin centre; between two bins the
// peak reads lower by the window's scalloping loss.
float fullScaleMagnitude(const float* window, std::size_t length);

// 20 log10(magnitude / fullScale), never below SPECTROGRAM_FLOOR_DBFS (silence: the floor).
float levelDbfs(float magnitude, float fullScale);

// Fills `levels` (SPECTROGRAM_ROWS values) from the fftSize / 2 absolute magnitudes (bins 0 up
// to, not including, the Nyquist frequency) of an fftSize-point transform at `sampleRate`, each
// row the level of its loudest bin against `fullScale`; a row narrower than the bins' spacing
// (low frequencies) takes the bin nearest its centre. False, with nothing written, when the rate
// leaves nothing above 20 Hz. Keeps its band table per thread, rebuilt when the rate or the size
// changes.
bool spectrogramLevels(const float* magnitude, std::size_t fftSize, std::int32_t sampleRate,
                       float fullScale, float* levels);
