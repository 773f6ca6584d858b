// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "app/app_state.h"
#include "app/malloc_tuning.h"
#include "tests/test_support.h"

namespace {

// The process-wide objects as a fresh process sees them, read before the first test runs (other
// tests in this executable change them).
struct StartUpSnapshot {
    std::wstring savePath;
    std::int32_t globalSampleRate = 0;
    bool glRunning = false, isRecording = true, recordingThreadActive = true;
    float currentLevel = -1.0f;
    bool buffersEmpty = false, renderThreadJoinable = true;
    std::size_t waveformCapacity = 0;
};
StartUpSnapshot startUp;

class SnapshotStartUpState : public ::testing::Environment {
public:
    void SetUp() override {
        startUp.savePath = savePath;
        startUp.globalSampleRate = globalSampleRate;
        startUp.glRunning = glRunning.load();
        startUp.isRecording = isRecording.load();
        startUp.recordingThreadActive = recordingThreadActive.load();
        startUp.currentLevel = currentLevel.load();
        startUp.buffersEmpty = fftInputBuffer.empty() && waveformBufferL.empty() &&
                               spectrumBuffer.empty() && blackmanWin.empty();
        startUp.renderThreadJoinable = glRenderThread.joinable();
        startUp.waveformCapacity = waveformBufferL.capacity();
    }
};
[[maybe_unused]] ::testing::Environment* const snapshotEnvironment =
    ::testing::AddGlobalTestEnvironment(new SnapshotStartUpState);

}  // namespace

TEST(AppState, StartUpValuesAndConstants) {
    EXPECT_EQ(startUp.savePath, L"output.wav");
    EXPECT_EQ(startUp.globalSampleRate, 44100);
    EXPECT_TRUE(startUp.glRunning);
    EXPECT_FALSE(startUp.isRecording);
    EXPECT_FALSE(startUp.recordingThreadActive);
    EXPECT_EQ(startUp.currentLevel, 0.0f);
    EXPECT_TRUE(startUp.buffersEmpty);
    EXPECT_FALSE(startUp.renderThreadJoinable);
    EXPECT_EQ(startUp.waveformCapacity, MAX_WAVEFORM_SIZE);
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

TEST(MallocTuning, LeftToTheUserWhenGlibcTunablesNameAMallocOne) {
    EXPECT_TRUE(mallocTunedByUser("glibc.malloc.arena_max=2"));
    EXPECT_TRUE(mallocTunedByUser("glibc.rtld.nns=2:glibc.malloc.mmap_threshold=65536"));
    for (const char* other : {static_cast<const char*>(nullptr), "", "glibc.rtld.nns=2:glibc.pthread.rseq=0", "x.glibc.malloc.y=1"})
        EXPECT_FALSE(mallocTunedByUser(other)) << (other ? other : "unset");
}
