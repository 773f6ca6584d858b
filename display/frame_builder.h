#pragma once
// Vertex lists for one frame of the waveform view, in normalised device coordinates (x and y in
// -1..1, no projection set). Portable: the render thread draws what these build, and the tests
// check the numbers without a GL context. Any thread; they touch only their arguments.
#include <cstddef>
#include <cstdint>
#include <vector>

struct Vertex2 {
    float x;
    float y;
};

// Thinned waveform: step = n / GL_VIEW_FULL_WIDTH (at least 1); for i = 0, step, ... < n one
// vertex (i / n * 2 - 1, sample / 32768). Nothing when n <= 1. `out` is cleared and refilled,
// keeping its capacity, so a frame allocates nothing once the vector has grown.
void buildWaveformVertices(const std::vector<std::int16_t>& samples, std::vector<Vertex2>& out);

// Spectrum: one vertex per bin, (i / size * 2 - 1, value). Nothing when empty.
void buildSpectrumVertices(const std::vector<float>& bins, std::vector<Vertex2>& out);

// Horizontal step the waveform is thinned with for `sampleCount` samples.
std::size_t waveformStep(std::size_t sampleCount);
