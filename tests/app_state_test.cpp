#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "app/app_state.h"
#include "tests/test_support.h"

TEST(AppState, StartUpValuesAndConstants) {
    // Checked before any other test in this file touches the state; the values are those a
    // fresh process sees before the first recording.
    EXPECT_EQ(savePath, L"output.wav");
    EXPECT_EQ(globalSampleRate, 44100);
    EXPECT_TRUE(glRunning.load());
    EXPECT_FALSE(isRecording.load());
    EXPECT_FALSE(recordingThreadActive.load());
    EXPECT_EQ(currentLevel.load(), 0.0f);
    EXPECT_TRUE(fftInputBuffer.empty());
    EXPECT_TRUE(waveformBufferL.empty());
    EXPECT_TRUE(spectrumBuffer.empty());
    EXPECT_FALSE(glRenderThread.joinable());
    EXPECT_EQ(waveformBufferL.capacity(), MAX_WAVEFORM_SIZE);
    EXPECT_EQ(MAX_WAVEFORM_SIZE, 65536u);
    EXPECT_EQ(FFT_SIZE, 8192u);
    EXPECT_EQ(GL_VIEW_FULL_WIDTH, 1160);
}

// The waveform ring must behave exactly like "append, then keep the newest N" on a vector.
TEST(WaveformBuffer, MatchesAppendThenTrimModel) {
    std::mt19937 rng(42);
    for (std::size_t cap : {1u, 7u, 64u, 1000u}) {
        WaveformBuffer ring(cap);
        std::vector<std::int16_t> model;
        std::int16_t next = 0;
        for (int step = 0; step < 400; ++step) {
            if (rng() % 50 == 0) {
                ring.clear();
                model.clear();
                continue;
            }
            const std::size_t n = rng() % (cap * 2 + 3);
            std::vector<std::int16_t> chunk(n);
            for (auto& v : chunk) v = next++;
            ring.append(chunk.data(), chunk.size());
            model.insert(model.end(), chunk.begin(), chunk.end());
            if (model.size() > cap) model.erase(model.begin(), model.end() - static_cast<long>(cap));
            ASSERT_EQ(ring.snapshot(), model) << "capacity " << cap << " step " << step;
        }
    }
}
