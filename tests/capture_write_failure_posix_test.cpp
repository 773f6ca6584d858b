// SPDX-License-Identifier: GPL-3.0-or-later
// Disk-full behaviour, simulated with RLIMIT_FSIZE: writes past the limit fail with EFBIG
// (SIGXFSZ ignored), just as a full disk fails them with ENOSPC.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <thread>

#include "capture/capture_thread.h"
#include "capture/recording_outcome.h"
#include "capture/wav_header.h"
#include "tests/fake_capture_source.h"
#include "tests/test_support.h"

TEST(CaptureThreadPosix, WriteFailureFinalisesWhatReachedTheDisk) {
    TempDir dir;
    resetSharedState();
    RecordingMessaging sink;
    FakeScript script;
    script.format = {2, 48000, SampleEncoding::Float, 32, 32};
    for (int p = 0; p < 10; ++p) script.packets.push_back(floatPacket(std::vector<float>(960, 0.5f), 2));
    activeFakeScript = &script;
    setCaptureSourceFactory(makeFakeCaptureSource);

    // 44 + 3 packets * 1920 + 2 bytes: the fourth packet's write stops half a sample in.
    const rlim_t limit = 44 + 3 * 1920 + 2;
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = old;
    lowered.rlim_cur = limit;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lowered), 0);
    std::thread(recordAudioToWav, dir.file("full.wav").wstring(), nullptr).join();
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);

    ASSERT_EQ(sink.count(WM_APP_RECORDING_DONE), 1u);
    for (const auto& m : sink.posted()) {
        if (m.msg == WM_APP_RECORDING_DONE) {
            EXPECT_EQ(static_cast<RecordingOutcome>(m.wParam), RecordingOutcome::WriteFailed);
        }
    }
    EXPECT_EQ(script.released, 4) << "capture stops at the failed packet";
    EXPECT_FALSE(recordingThreadActive.load());
    const auto bytes = readFileBytes(dir.file("full.wav"));
    ASSERT_EQ(bytes.size(), limit);
    const WAVHeader h = parseWavHeader(bytes.data());
    EXPECT_EQ(h.dataSize, 3u * 1920) << "whole frames that reached the file";
    EXPECT_EQ(h.riffSize, 3u * 1920 + 36);
}
