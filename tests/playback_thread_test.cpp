// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/playback_thread.h"

#include <gtest/gtest.h>

#include <fstream>
#include <tuple>

#include "app/app_state.h"
#include "capture/wav_header.h"
#include "tests/fake_playback_output.h"
#include "tests/test_support.h"

namespace {

// A 48 kHz take of `frames` frames (the left channel counting, the right its mirror) under a
// header whose data size runs far past the file's end, as a killed recording's may.
std::vector<std::int16_t> writeTake(const std::filesystem::path& path, int frames, int channels = 2,
                                    int rate = 48000, bool isFloat = false) {
    std::vector<std::int16_t> samples;
    std::ofstream out(path, std::ios::binary);
    writeWavHeader(out, rate, 16, channels, 0xFFFFFF00u, isFloat);
    for (int i = 0; i < frames * channels; ++i) {
        const auto v = static_cast<std::int16_t>((i % 2 ? -1 : 1) * (i / 2 % 20000 - 10000));
        samples.push_back(v);
        out.put(static_cast<char>(v & 0xFF)).put(static_cast<char>(v >> 8 & 0xFF));
    }
    return samples;
}

PlaybackOutcome play(const std::filesystem::path& path, const RecordingMessaging& sink) {
    playWavFile(path.wstring(), nullptr, beginPlayback());
    EXPECT_EQ(sink.posted().back().msg, WM_APP_PLAYBACK_DONE);
    return static_cast<PlaybackOutcome>(exportMessageValue(sink.posted().back().wParam));
}

}  // namespace

TEST(Playback, EveryFrameReachesTheOutputOnceInOrderAndTheViewsShowTheSame) {
    resetSharedState();
    RecordingMessaging sink;
    TempDir dir;
    const std::vector<std::int16_t> take = writeTake(dir.file("take.wav"), 30000);
    FakeOutputScript script;
    script.room = 3001;   // no multiple of the blocks read
    activeFakeOutput = &script;
    setPlaybackOutputFactory(makeFakePlaybackOutput);
    EXPECT_EQ(play(dir.file("take.wav"), sink), PlaybackOutcome::Finished);
    EXPECT_EQ(std::make_tuple(script.rate, script.channels, script.finished, script.destroyed),
              std::make_tuple(48000, 2, true, true));
    EXPECT_EQ(script.written, take);
    std::vector<std::int16_t> left;
    for (std::size_t i = 0; i < take.size(); i += 2) left.push_back(take[i]);
    {
        std::lock_guard<std::mutex> lock(waveformMutex);
        EXPECT_EQ(waveformBufferL.snapshot(), left) << "the stereo take's channel 0, exactly";
    }
    {
        std::lock_guard<std::mutex> lock(spectrumMutex);
        EXPECT_EQ(spectrogramHistory.columns(), 30000u * SPECTROGRAM_COLUMNS / (48000 * SPECTROGRAM_SECONDS));
        EXPECT_FALSE(spectrumBuffer.empty());
    }
    const PlaybackFigures f = publishedPlaybackFigures();
    EXPECT_EQ(std::make_tuple(f.sampleRate, f.totalFrames, f.playedFrames), std::make_tuple(48000, 30000ull, 30000ull));

    // An output whose count goes back a frame (WASAPI's, when its buffer ran dry): nothing is
    // shown twice.
    resetSharedState();
    FakeOutputScript stepping;
    stepping.room = 3001;
    stepping.stepBackAt = 4;
    activeFakeOutput = &stepping;
    EXPECT_EQ(play(dir.file("take.wav"), sink), PlaybackOutcome::Finished);
    {
        std::lock_guard<std::mutex> lock(waveformMutex);
        EXPECT_EQ(waveformBufferL.snapshot(), left);
    }

    // Ended during the third poll: the output goes, and what it played since is not shown.
    resetSharedState();
    FakeOutputScript stopped;
    stopped.room = 3001;
    stopped.onPoll = [](int poll) { if (poll == 3) endPlayback(); };
    activeFakeOutput = &stopped;
    EXPECT_EQ(play(dir.file("take.wav"), sink), PlaybackOutcome::Stopped);
    EXPECT_TRUE(stopped.destroyed && !stopped.finished);
    std::lock_guard<std::mutex> lock(waveformMutex);
    EXPECT_EQ(waveformBufferL.size(), 2u * 3001) << "the two stretches played before it";
}

TEST(Playback, AFileThatCannotBePlayedIsRefusedWithItsReason) {
    resetSharedState();
    RecordingMessaging sink;
    TempDir dir;
    FakeOutputScript script;
    activeFakeOutput = &script;
    setPlaybackOutputFactory(makeFakePlaybackOutput);
    writeFileBytes(dir.file("short.wav"), {'R', 'I', 'F', 'F', 0, 0});
    writeTake(dir.file("float.wav"), 10, 1, 48000, true);
    writeTake(dir.file("slow.wav"), 10, 1, 500);
    const std::pair<const char*, PlaybackOutcome> refused[] = {
        {"gone.wav", PlaybackOutcome::OpenFailed}, {"short.wav", PlaybackOutcome::NotRecorderWav},
        {"float.wav", PlaybackOutcome::NotRecorderWav}, {"slow.wav", PlaybackOutcome::UnsupportedFormat}};
    for (const auto& [name, outcome] : refused) EXPECT_EQ(play(dir.file(name), sink), outcome) << name;
    EXPECT_EQ(script.rate, 0) << "no output opened for them";
    script.failOpen = true;
    writeTake(dir.file("good.wav"), 10);
    EXPECT_EQ(play(dir.file("good.wav"), sink), PlaybackOutcome::NoDevice);
    setPlaybackOutputFactory(nullptr);
}
