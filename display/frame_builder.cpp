// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/frame_builder.h"

#include <atomic>
#include <mutex>

#include "app/app_state.h"

namespace {

std::atomic<bool> repaintRequested{false};
std::atomic<bool> viewHidden{false};

}  // namespace

std::size_t waveformStep(std::size_t sampleCount) {
    const std::size_t step = sampleCount / static_cast<std::size_t>(GL_VIEW_FULL_WIDTH);
    return step == 0 ? 1 : step;
}

void requestViewRepaint() { repaintRequested.store(true); }

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
