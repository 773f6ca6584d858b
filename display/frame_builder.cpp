#include "display/frame_builder.h"

#include "app/app_state.h"

std::size_t waveformStep(std::size_t sampleCount) {
    const std::size_t step = sampleCount / static_cast<std::size_t>(GL_VIEW_FULL_WIDTH);
    return step == 0 ? 1 : step;
}

void buildWaveformVertices(const std::vector<std::int16_t>& samples, std::vector<Vertex2>& out) {
    out.clear();
    const std::size_t n = samples.size();
    if (n <= 1) return;
    const std::size_t step = waveformStep(n);
    const float count = static_cast<float>(n);
    // All single precision, as the view's coordinates are defined: (i / n) * 2 - 1.
    for (std::size_t i = 0; i < n; i += step) {
        const float x = (static_cast<float>(i) / count) * 2.0f - 1.0f;
        const float y = static_cast<float>(samples[i]) / 32768.0f;
        out.push_back({x, y});
    }
}

void buildSpectrumVertices(const std::vector<float>& bins, std::vector<Vertex2>& out) {
    out.clear();
    const float size = static_cast<float>(bins.size());
    for (std::size_t i = 0; i < bins.size(); ++i)
        out.push_back({(static_cast<float>(i) / size) * 2.0f - 1.0f, bins[i]});
}
