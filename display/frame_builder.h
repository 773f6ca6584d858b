// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What one frame of the waveform view shows: copies of the shared buffers and the vertex lists
// drawn from them, in normalised device coordinates (x and y in -1..1, no projection set).
// Portable: the render thread draws what these build, and the tests check the numbers without a
// GL context.
#include <cstddef>
#include <cstdint>
#include <vector>

struct Vertex2 {
    float x;
    float y;
};

// The render thread's copy of what the view shows. Kept between frames: a part is copied again
// only when its buffer changed, and the vectors keep their storage, so a frame allocates nothing.
struct FrameSnapshot {
    std::size_t sampleCount = 0;        // samples waveformBufferL held
    std::vector<std::int16_t> picked;   // of those, every waveformStep(sampleCount)-th one
    std::vector<float> bins;            // spectrumBuffer
    bool copied = false;                // false until the first frameNeedsDrawing
    std::uint64_t waveformGeneration = 0;
    std::uint64_t spectrumGeneration = 0;
};

// Whether `frame` must be drawn and presented: never while the view is hidden (setViewHidden);
// otherwise the first call, a change of either buffer (Start's
// clear included), or a repaint requested since the last call. Brings `frame` up to date with
// waveformBufferL and spectrumBuffer on the way, each copied under its own lock (never both at
// once) and only if it changed since the last call. Render thread.
bool frameNeedsDrawing(FrameSnapshot& frame);

// The window system lost the view's pixels (exposed, un-minimised): the next frameNeedsDrawing
// returns true even when nothing changed. Any thread; never blocks.
void requestViewRepaint();

// The window system says whether anything of the view can be seen (its window minimised or
// entirely covered: hidden). While hidden, frameNeedsDrawing returns false and copies nothing,
// whatever changed; the change back to shown requests a repaint, so the next frame is drawn
// from the buffers as they are then. Any thread; never blocks.
void setViewHidden(bool hidden);

// Thinned waveform of the frame's picked samples: step = n / GL_VIEW_FULL_WIDTH (at least 1) for
// the n samples the buffer held; for i = 0, step, ... < n one vertex (i / n * 2 - 1,
// sample / 32768). Nothing when n <= 1. `out` is cleared and refilled, keeping its capacity.
void buildFrameWaveformVertices(const FrameSnapshot& frame, std::vector<Vertex2>& out);

// Spectrum: one vertex per bin, (i / size * 2 - 1, value). Nothing when empty.
void buildSpectrumVertices(const std::vector<float>& bins, std::vector<Vertex2>& out);

// Horizontal step the waveform is thinned with for `sampleCount` samples.
std::size_t waveformStep(std::size_t sampleCount);
