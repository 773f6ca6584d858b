// SPDX-License-Identifier: GPL-3.0-or-later
// The vertex lists the render thread draws: thinning of the waveform, the coordinate mapping of
// samples and bins, the reuse of the caller's vectors between frames, and when a frame is drawn.
#include "display/frame_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <vector>

#include "analysis/fft_analysis.h"
#include "app/app_state.h"
#include "tests/test_support.h"

namespace {

std::vector<std::int16_t> ramp(std::size_t n) {
    std::vector<std::int16_t> s(n);
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<std::int16_t>(i % 30000);
    return s;
}

// The whole-buffer form: thins all of `samples` as the render thread's copy picks them, then
// builds that frame's vertices.
void buildWaveformVertices(const std::vector<std::int16_t>& samples, std::vector<Vertex2>& out) {
    FrameSnapshot frame;
    frame.sampleCount = samples.size();
    for (std::size_t i = 0; i < samples.size(); i += waveformStep(samples.size()))
        frame.picked.push_back(samples[i]);
    buildFrameWaveformVertices(frame, out);
}

}  // namespace

TEST(WaveformVertices, ThinsToAboutOneVertexPerPixel) {
    struct Case {
        std::size_t samples, step, vertices;
    };
    for (const Case c : {Case{1159, 1, 1159}, Case{2320, 2, 1160}, Case{65536, 56, 1171},
                         Case{2, 1, 2}, Case{1160, 1, 1160}}) {
        SCOPED_TRACE(c.samples);
        std::vector<Vertex2> out;
        buildWaveformVertices(ramp(c.samples), out);
        EXPECT_EQ(waveformStep(c.samples), c.step);
        ASSERT_EQ(out.size(), c.vertices);
        // Vertex k is sample k * step: its x is (k * step / n) * 2 - 1 and its y that sample.
        const std::size_t k = c.vertices - 1;
        const std::size_t i = k * c.step;
        EXPECT_FLOAT_EQ(out[k].x, (static_cast<float>(i) / static_cast<float>(c.samples)) * 2 - 1);
        EXPECT_FLOAT_EQ(out[k].y, static_cast<float>(i % 30000) / 32768.0f);
        EXPECT_EQ(out.front().x, -1.0f);
    }
}

TEST(WaveformVertices, FullBufferEndsJustLeftOfTheRightEdge) {
    std::vector<Vertex2> out;
    buildWaveformVertices(ramp(65536), out);
    ASSERT_EQ(out.size(), 1171u);
    EXPECT_EQ(out.back().x, 0.99951171875f);   // sample 65520 of 65536
    EXPECT_EQ(out[1].x, (56.0f / 65536.0f) * 2.0f - 1.0f);
}

TEST(WaveformVertices, SampleRangeMapsOntoTheViewHeight) {
    std::vector<Vertex2> out;
    buildWaveformVertices({-32768, 0, 32767, -1}, out);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0].y, -1.0f);
    EXPECT_EQ(out[1].y, 0.0f);
    EXPECT_EQ(out[2].y, 0.999969482421875f);
    EXPECT_EQ(out[3].y, -1.0f / 32768.0f);
    EXPECT_EQ(out[2].x, 0.0f);
}

TEST(WaveformVertices, NothingForZeroOrOneSampleAndOldVerticesAreDropped) {
    std::vector<Vertex2> out;
    buildWaveformVertices(ramp(100), out);
    ASSERT_EQ(out.size(), 100u);
    buildWaveformVertices({12345}, out);
    EXPECT_TRUE(out.empty());
    buildWaveformVertices({}, out);
    EXPECT_TRUE(out.empty());
}

TEST(SpectrumVertices, OneVertexPerBinAcrossTheView) {
    std::vector<float> bins(4096, 0.0f);
    bins[170] = 1.0f;
    bins[4095] = 0.25f;
    std::vector<Vertex2> out;
    buildSpectrumVertices(bins, out);
    ASSERT_EQ(out.size(), 4096u);
    EXPECT_EQ(out[0].x, -1.0f);
    EXPECT_EQ(out[0].y, 0.0f);   // an all-zero spectrum lies on the centre line
    EXPECT_EQ(out[2048].x, 0.0f);
    EXPECT_EQ(out[4095].x, 0.99951171875f);
    EXPECT_EQ(out[4095].y, 0.25f);
    EXPECT_EQ(out[170].y, 1.0f);   // values pass unchanged
    buildSpectrumVertices({}, out);
    EXPECT_TRUE(out.empty());
}

TEST(FrameVertices, ReuseTheCallersStorageFromFrameToFrame) {
    // The render thread calls these ~60 times a second; after the first frame they must not
    // reallocate.
    std::vector<Vertex2> wave;
    std::vector<Vertex2> spectrum;
    const auto samples = ramp(65536);
    const std::vector<float> bins(4096, 0.5f);
    buildWaveformVertices(samples, wave);
    buildSpectrumVertices(bins, spectrum);
    const Vertex2* waveData = wave.data();
    const Vertex2* spectrumData = spectrum.data();
    for (int frame = 0; frame < 3; ++frame) {
        buildWaveformVertices(ramp(1159), wave);   // fewer vertices fit in place
        buildWaveformVertices(samples, wave);
        buildSpectrumVertices(bins, spectrum);
    }
    EXPECT_EQ(wave.data(), waveData);
    EXPECT_EQ(spectrum.data(), spectrumData);
    EXPECT_EQ(wave.size(), 1171u);
}

TEST(FrameRefresh, DrawsWhenABufferChangedOrTheViewWasExposedAndCopiesOnlyDrawnSamples) {
    resetSharedState();
    FrameSnapshot frame;
    EXPECT_TRUE(frameNeedsDrawing(frame)) << "the first frame is always drawn";
    EXPECT_FALSE(frameNeedsDrawing(frame)) << "nothing changed: the frame on screen is this one";

    // 70000 samples in two packets: the ring wraps and holds the newest 65536.
    const auto samples = ramp(70000);
    {
        std::lock_guard<std::mutex> lock(waveformMutex);
        waveformBufferL.append(samples.data(), 60000);
        waveformBufferL.append(samples.data() + 60000, 10000);
    }
    EXPECT_TRUE(frameNeedsDrawing(frame));
    EXPECT_EQ(frame.picked.size(), 1171u);
    std::vector<Vertex2> fromFrame, fromAll;
    buildFrameWaveformVertices(frame, fromFrame);
    const std::vector<std::int16_t> newest(samples.begin() + 4464, samples.end());
    buildWaveformVertices(newest, fromAll);
    ASSERT_EQ(fromFrame.size(), fromAll.size());
    for (std::size_t k = 0; k < fromAll.size(); ++k) {
        EXPECT_EQ(fromFrame[k].x, fromAll[k].x) << k;
        EXPECT_EQ(fromFrame[k].y, fromAll[k].y) << k;
    }
    EXPECT_FALSE(frameNeedsDrawing(frame));

    const std::vector<float> tone(1024, 0.25f);
    processFFT(tone.data(), tone.size(), 48000);   // publishes a new spectrum
    EXPECT_TRUE(frameNeedsDrawing(frame));
    EXPECT_EQ(frame.bins.size(), 4096u);
    EXPECT_FALSE(frameNeedsDrawing(frame));

    requestViewRepaint();   // a dialog uncovered the view
    EXPECT_TRUE(frameNeedsDrawing(frame));
    EXPECT_FALSE(frameNeedsDrawing(frame));

    // Minimised or covered: no frame and no copy, whatever changes or asks; shown again, one
    // frame from the buffers as they are then.
    setViewHidden(true);
    {
        std::lock_guard<std::mutex> lock(waveformMutex);
        waveformBufferL.append(samples.data(), 5);
    }
    requestViewRepaint();
    EXPECT_FALSE(frameNeedsDrawing(frame));
    EXPECT_FALSE(frameNeedsDrawing(frame));
    EXPECT_EQ(frame.picked.back(), samples[4464 + 65520]) << "copied while hidden";
    setViewHidden(true);
    setViewHidden(false);
    EXPECT_TRUE(frameNeedsDrawing(frame));
    EXPECT_EQ(frame.picked.back(), samples[4469 + 65520]) << "not the buffer as it is now";
    EXPECT_FALSE(frameNeedsDrawing(frame));
    setViewHidden(false);   // already shown: no extra frame
    EXPECT_FALSE(frameNeedsDrawing(frame));
}

// Level to colour: black at the floor and below, near white at 0 dBFS and above, and no step
// up in level ever darker (luma) than the one below it.
TEST(SpectrogramTexels, ColourBrightensWithTheLevelFromBlackToNearWhite) {
    unsigned char rgb[3];
    int last = -1;
    for (float db = -110.0f; db <= 5.0f; db += 0.05f) {
        spectrogramColour(db, rgb);
        const int luma = 299 * rgb[0] + 587 * rgb[1] + 114 * rgb[2];
        ASSERT_GE(luma, last) << db << " dBFS";
        EXPECT_TRUE((db > -100.0f || luma == 0) && (db < 0.0f || std::min({rgb[0], rgb[1], rgb[2]}) >= 220))
            << db << " dBFS";
        last = luma;
    }
}

// The spectrum view's frames: the first, a repaint and Start at once; new columns after a few
// passes, as many as came (a column is 24 s / 1024 at any rate: 384 kHz merges nine analyses,
// row by row the loudest; 8 kHz repeats one over five), the newest 1024 after a long gap.
TEST(FrameRefresh, SpectrogramCopiesNewColumnsEveryFewPassesAndStartsAfreshOnStart) {
    resetSharedState();
    SpectrogramSnapshot s;
    EXPECT_TRUE(spectrogramNeedsDrawing(s));
    std::vector<float> quiet(SPECTROGRAM_ROWS, -90.0f), loud = quiet;
    loud[7] = -3.0f;
    auto add = [](const std::vector<float>& levels, std::uint64_t samples, std::int32_t rate) {
        std::lock_guard<std::mutex> lock(spectrumMutex);
        spectrogramHistory.add(levels.data(), samples, rate);
    };
    auto drawnRow7 = [&] {   // row 7 of the columns drawn once they have waited their passes
        for (int p = 1; p < SPECTROGRAM_PASSES_PER_FRAME; ++p) EXPECT_FALSE(spectrogramNeedsDrawing(s));
        EXPECT_TRUE(spectrogramNeedsDrawing(s));
        std::vector<float> row7;
        for (std::size_t i = 7; i < s.newLevels.size(); i += SPECTROGRAM_ROWS) row7.push_back(s.newLevels[i]);
        s.newLevels.clear();
        return row7;
    };
    for (int i = 0; i < 9; ++i) add(i == 3 ? loud : quiet, 1024, 384000);   // 9216 of 9000
    EXPECT_EQ(drawnRow7(), std::vector<float>{-3.0f});
    requestViewRepaint();
    EXPECT_TRUE(spectrogramNeedsDrawing(s));
    resetSharedState();   // as Start: a new take
    EXPECT_TRUE(spectrogramNeedsDrawing(s));
    add(quiet, 1024, 8000);   // 5 columns of 187.5 samples
    add(loud, 1024, 8000);    // 5 more
    EXPECT_EQ(drawnRow7(), (std::vector<float>{-90, -90, -90, -90, -90, -3, -3, -3, -3, -3}));
    add(quiet, 8000 * 48, 8000);   // 2048 columns, of which the ring keeps 1024
    EXPECT_EQ(drawnRow7().size(), SPECTROGRAM_COLUMNS);
    EXPECT_EQ(s.firstNew + SPECTROGRAM_COLUMNS, s.columns);
}
