// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What one frame of each view shows: copies of the shared buffers, the vertex lists drawn from
// them in normalised device coordinates (x and y in -1..1, no projection set), and the spectrum
// view's texels. Portable: the render thread draws what these build, and the tests check the
// numbers without a GL context.
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

// The window system lost the views' pixels (exposed, un-minimised): the next frameNeedsDrawing
// and spectrogramNeedsDrawing return true even when nothing changed. Any thread; never blocks.
void requestViewRepaint();

// The window system says whether anything of the views can be seen (the window minimised or
// both views entirely covered: hidden). While hidden, frameNeedsDrawing and
// spectrogramNeedsDrawing return false and copy nothing, whatever changed; the change back to
// shown requests a repaint, so the next frames are drawn from the buffers as they are then.
// Any thread; never blocks.
void setViewHidden(bool hidden);

// The render thread's copy of the spectrogram: the columns of spectrogramHistory it has not
// drawn yet. The columns already drawn live on in the view's texture.
struct SpectrogramSnapshot {
    bool copied = false;             // false until the first spectrogramNeedsDrawing
    std::uint64_t take = 0;          // spectrogramHistory's take these columns belong to
    std::uint64_t columns = 0;       // columns of that take copied so far
    std::int32_t sampleRate = 0;     // the take's, for the guide lines
    std::uint64_t firstNew = 0;      // index of newLevels' first column
    std::vector<float> newLevels;    // columns copied, not drawn yet, SPECTROGRAM_ROWS each;
                                     // the drawer empties it
    int passesWaited = 0;            // calls made while newLevels held columns
};

// Calls that new columns wait before they are drawn: the spectrogram moves every eighth pass of
// the render loop (about 7 times a second, 6 or 7 pixels a time), not with every column (43 a
// second). Each frame of the spectrum view costs a switch of context there and back, the
// picture's rasterisation and a swap, which on a software GL (Mesa's llvmpipe, where most of a
// frame's cost is) is as much as a waveform frame; a 24 s history moving a few pixels at a time
// is followed as well at an eighth of the rate, for an eighth of that cost.
constexpr int SPECTROGRAM_PASSES_PER_FRAME = 8;

// Whether the spectrum view must be drawn: never while hidden; otherwise the first call, a new
// take (Start), a repaint requested since the last call, or new columns that have waited
// SPECTROGRAM_PASSES_PER_FRAME calls. Appends, under spectrumMutex, the columns added since the
// last call to newLevels (after a gap of more than SPECTROGRAM_COLUMNS, only the newest ones).
// Render thread.
bool spectrogramNeedsDrawing(SpectrogramSnapshot& snapshot);

// The colour of a level: black at SPECTROGRAM_FLOOR_DBFS and below, through violet, crimson,
// orange and pale yellow (a magma-like map, never darker for a higher level) to near white at
// 0 dBFS and above. RGB bytes into `rgb`.
void spectrogramColour(float dbfs, unsigned char rgb[3]);

// RGBA texels (4 bytes each) of `count` columns of newLevels from its column `begin` on, laid
// out as a sub-image `count` wide and SPECTROGRAM_ROWS high, row 0 first. The rows of 100 Hz,
// 1 kHz and 10 kHz (those below the Nyquist frequency) are lightened a quarter of the way to
// white: faint guide lines. `out` is resized.
void buildSpectrogramTexels(const SpectrogramSnapshot& snapshot, std::size_t begin,
                            std::size_t count, std::vector<unsigned char>& out);

// Thinned waveform of the frame's picked samples: step = n / GL_VIEW_FULL_WIDTH (at least 1) for
// the n samples the buffer held; for i = 0, step, ... < n one vertex (i / n * 2 - 1,
// sample / 32768). Nothing when n <= 1. `out` is cleared and refilled, keeping its capacity.
void buildFrameWaveformVertices(const FrameSnapshot& frame, std::vector<Vertex2>& out);

// Spectrum: one vertex per bin, (i / size * 2 - 1, value). Nothing when empty.
void buildSpectrumVertices(const std::vector<float>& bins, std::vector<Vertex2>& out);

// Horizontal step the waveform is thinned with for `sampleCount` samples.
std::size_t waveformStep(std::size_t sampleCount);
