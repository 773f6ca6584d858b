// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/frame_builder.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

#include "analysis/spectrogram_levels.h"
#include "app/app_state.h"

namespace {

std::atomic<bool> repaintRequested{false};
std::atomic<bool> spectrogramRepaintRequested{false};
std::atomic<bool> viewHidden{false};

// The colour map's stops, evenly spaced from the floor (black) to 0 dBFS (near white): black,
// violet, crimson, orange, pale yellow (a magma-like map). No channel ever decreases from one
// stop to the next, so every colour is at least as bright as those below it, rounded or not.
constexpr unsigned char COLOUR_STOPS[][3] = {
    {0, 0, 0},     {30, 4, 40},    {80, 8, 80},    {125, 15, 90},  {170, 30, 90},  {205, 55, 90},
    {230, 90, 90}, {245, 130, 90}, {252, 175, 95}, {254, 215, 130}, {255, 250, 225}};
constexpr int LAST_STOP = static_cast<int>(sizeof COLOUR_STOPS / sizeof COLOUR_STOPS[0]) - 1;

}  // namespace

std::size_t waveformStep(std::size_t sampleCount) {
    const std::size_t step = sampleCount / static_cast<std::size_t>(GL_VIEW_FULL_WIDTH);
    return step == 0 ? 1 : step;
}

void requestViewRepaint() {
    repaintRequested.store(true);
    spectrogramRepaintRequested.store(true);
}

void setViewHidden(bool hidden) {
    // Stored before the request, so the frame the request causes is drawn.
    if (!viewHidden.exchange(hidden) || hidden) return;
    requestViewRepaint();
}

bool frameNeedsDrawing(FrameSnapshot& frame) {
    // Nothing of the view can be seen: nothing to copy or draw. A pending repaint stays pending.
    if (viewHidden.load()) return false;
    bool changed = repaintRequested.exchange(false) || !frame.copied;
    {
        // Only the samples that become vertices are copied: ~1170 of up to 65536.
        std::lock_guard<std::mutex> lock(waveformMutex);
        if (!frame.copied || waveformBufferL.generation() != frame.waveformGeneration) {
            frame.waveformGeneration = waveformBufferL.generation();
            frame.sampleCount = waveformBufferL.size();
            waveformBufferL.copyEvery(waveformStep(frame.sampleCount), frame.picked);
            changed = true;
        }
    }
    {
        std::lock_guard<std::mutex> lock(spectrumMutex);
        if (!frame.copied || spectrumBuffer.generation() != frame.spectrumGeneration) {
            frame.spectrumGeneration = spectrumBuffer.generation();
            frame.bins = spectrumBuffer.bins();   // copy-assignment keeps the capacity
            changed = true;
        }
    }
    frame.copied = true;
    return changed;
}

void buildFrameWaveformVertices(const FrameSnapshot& frame, std::vector<Vertex2>& out) {
    out.clear();
    const std::size_t n = frame.sampleCount;
    if (n <= 1) return;
    const std::size_t step = waveformStep(n);
    const float count = static_cast<float>(n);
    // All single precision, as the view's coordinates are defined: (i / n) * 2 - 1.
    for (std::size_t k = 0; k < frame.picked.size(); ++k) {
        const float x = (static_cast<float>(k * step) / count) * 2.0f - 1.0f;
        const float y = static_cast<float>(frame.picked[k]) / 32768.0f;
        out.push_back({x, y});
    }
}

void buildSpectrumVertices(const std::vector<float>& bins, std::vector<Vertex2>& out) {
    out.clear();
    const float size = static_cast<float>(bins.size());
    for (std::size_t i = 0; i < bins.size(); ++i)
        out.push_back({(static_cast<float>(i) / size) * 2.0f - 1.0f, bins[i]});
}

bool spectrogramNeedsDrawing(SpectrogramSnapshot& s) {
    if (viewHidden.load()) return false;
    bool now = spectrogramRepaintRequested.exchange(false) || !s.copied;
    s.copied = true;
    {
        std::lock_guard<std::mutex> lock(spectrumMutex);
        const SpectrogramHistory& h = spectrogramHistory;
        if (h.take() != s.take) {
            s.take = h.take();
            s.columns = 0;
            s.newLevels.clear();
            now = true;
        }
        s.sampleRate = h.sampleRate();
        if (h.columns() > s.columns) {
            // The ring keeps the newest SPECTROGRAM_COLUMNS; copies leave the lock, no pointer.
            const std::uint64_t kept = std::min<std::uint64_t>(h.columns(), SPECTROGRAM_COLUMNS);
            const std::uint64_t first = std::max(s.columns, h.columns() - kept);
            if (first != s.columns) s.newLevels.clear();
            if (s.newLevels.empty()) s.firstNew = first;
            for (std::uint64_t c = first; c < h.columns(); ++c)
                s.newLevels.insert(s.newLevels.end(), h.column(c), h.column(c) + SPECTROGRAM_ROWS);
            s.columns = h.columns();
        }
    }
    if (!s.newLevels.empty() && ++s.passesWaited >= SPECTROGRAM_PASSES_PER_FRAME) now = true;
    if (now) s.passesWaited = 0;
    return now;
}

void spectrogramColour(float dbfs, unsigned char rgb[3]) {
    const float fraction = (dbfs - SPECTROGRAM_FLOOR_DBFS) / -SPECTROGRAM_FLOOR_DBFS;
    const float position = std::clamp(fraction, 0.0f, 1.0f) * LAST_STOP;
    const int stop = std::min(static_cast<int>(position), LAST_STOP - 1);
    const float t = position - static_cast<float>(stop);
    for (int i = 0; i < 3; ++i) {
        const float from = COLOUR_STOPS[stop][i], to = COLOUR_STOPS[stop + 1][i];
        rgb[i] = static_cast<unsigned char>(from + (to - from) * t + 0.5f);
    }
}

void buildSpectrogramTexels(const SpectrogramSnapshot& s, std::size_t begin, std::size_t count,
                            std::vector<unsigned char>& out) {
    out.resize(count * SPECTROGRAM_ROWS * 4);
    for (std::size_t c = 0; c < count; ++c) {
        const float* levels = s.newLevels.data() + (begin + c) * SPECTROGRAM_ROWS;
        for (std::size_t r = 0; r < SPECTROGRAM_ROWS; ++r) {
            unsigned char* texel = &out[(r * count + c) * 4];
            spectrogramColour(levels[r], texel);
            texel[3] = 255;
        }
    }
    if (s.sampleRate <= 0) return;
    for (const double hz : {100.0, 1000.0, 10000.0}) {
        const int row = spectrogramRow(hz, s.sampleRate, static_cast<int>(SPECTROGRAM_ROWS));
        if (row < 0 || row >= static_cast<int>(SPECTROGRAM_ROWS)) continue;
        unsigned char* line = &out[static_cast<std::size_t>(row) * count * 4];
        for (std::size_t i = 0; i < count * 4; ++i)
            if (i % 4 != 3) line[i] = static_cast<unsigned char>(line[i] + (255 - line[i]) / 4);
    }
}
