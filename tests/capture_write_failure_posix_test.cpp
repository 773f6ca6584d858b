// SPDX-License-Identifier: GPL-3.0-or-later
// What the disk does to a take: a full disk, simulated with RLIMIT_FSIZE (writes past the limit
// fail with EFBIG, SIGXFSZ ignored, just as a full disk fails them with ENOSPC); and the flush at
// the end of a take and of an export, through the test's own fdatasync.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <thread>
#include <vector>

#include "capture/capture_thread.h"
#include "capture/live_wav_file.h"
#include "capture/recording_outcome.h"
#include "capture/wav_header.h"
#include "export/mp3_export.h"
#include "tests/fake_capture_source.h"
#include "tests/test_support.h"

namespace {

// fdatasync as a file system answers it: the real call, or `syncError`. Each call is noted with
// the file's inode and whether the descriptor may write. The wrap is process-wide: other tests'
// exports run side by side and flush through it too, hence the lock.
std::atomic<int> syncError{0};
std::mutex syncCallsLock;
struct SyncCall {
    ino_t inode;
    bool writable;
};
std::vector<SyncCall> syncCalls;

ino_t inodeOf(const std::filesystem::path& file) {
    struct stat st {};
    return stat(file.c_str(), &st) == 0 ? st.st_ino : 0;
}

RecordingOutcome recordOnePacket(const std::filesystem::path& file, const std::function<void()>& onPoll = {}) {
    resetSharedState();
    RecordingMessaging sink;
    FakeScript script;
    script.packets.push_back(floatPacket(std::vector<float>(480, 0.25f), 1));
    script.onPoll = onPoll;
    activeFakeScript = &script;
    setCaptureSourceFactory(makeFakeCaptureSource);
    std::thread(recordAudioToWav, file.wstring(), nullptr, CaptureEndpoint{}).join();
    for (const auto& m : sink.posted())
        if (m.msg == WM_APP_RECORDING_DONE) return static_cast<RecordingOutcome>(m.wParam);
    return RecordingOutcome::InternalError;
}

}  // namespace

extern "C" int __real_fdatasync(int fd);
extern "C" int __wrap_fdatasync(int fd) {
    struct stat st {};
    fstat(fd, &st);
    {
        const std::lock_guard<std::mutex> lock(syncCallsLock);
        syncCalls.push_back({st.st_ino, (fcntl(fd, F_GETFL) & O_ACCMODE) != O_RDONLY});
    }
    if (const int error = syncError.load()) {
        errno = error;
        return -1;
    }
    return __real_fdatasync(fd);
}

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
    std::thread(recordAudioToWav, dir.file("full.wav").wstring(), nullptr, CaptureEndpoint{}).join();
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

TEST(CaptureThreadPosix, TakesAndExportsAreFlushedByOneRule) {
    TempDir dir;
    syncCalls.clear();
    // The take is flushed through the descriptor that wrote it, not a second one opened by name
    // (which a write-only file, no free descriptor or a rename would deny), and a flush is part
    // of "Saved". Renamed during the take, it is still the file flushed.
    const auto moved = dir.file("moved.wav");
    EXPECT_EQ(recordOnePacket(dir.file("take.wav"), [&] {
                  std::error_code ec;   // once: later polls find nothing to move
                  std::filesystem::rename(dir.file("take.wav"), moved, ec);
              }),
              RecordingOutcome::Saved);
    ASSERT_EQ(syncCalls.size(), 1u);
    EXPECT_EQ(syncCalls[0].inode, inodeOf(moved));
    EXPECT_TRUE(syncCalls[0].writable);

    // One rule for the WAV and the MP3: a file system that cannot flush (EINVAL) fails neither;
    // an I/O error fails both, and the export's MP3 does not take the name.
    syncError.store(EINVAL);
    EXPECT_EQ(recordOnePacket(dir.file("einval.wav")), RecordingOutcome::Saved);
    {
        RecordingMessaging boxes;
        saveAsMP3(dir.file("einval.mp3").wstring(), moved.wstring());
        EXPECT_TRUE(std::filesystem::exists(dir.file("einval.mp3")));
        EXPECT_TRUE(boxes.errorBoxes().empty());
    }
    syncError.store(EIO);
    EXPECT_EQ(recordOnePacket(dir.file("eio.wav")), RecordingOutcome::WriteFailed);
    {
        RecordingMessaging boxes;
        saveAsMP3(dir.file("eio.mp3").wstring(), moved.wstring());
        EXPECT_FALSE(std::filesystem::exists(dir.file("eio.mp3")));
        EXPECT_EQ(boxes.errorBoxes().size(), 1u);
    }
    syncError.store(0);
    EXPECT_EQ(syncCalls.size(), 5u) << "each finished file flushed once";

    // The rest of the rule: what follows a take's finish, step by step.
    using R = RecordingOutcome;
    for (const R complete : {R::Saved, R::SizeLimitReached}) {
        EXPECT_EQ(finishedOutcome(complete, true, true, true), complete);
        EXPECT_EQ(finishedOutcome(complete, true, false, true), R::WriteFailed);
        EXPECT_EQ(finishedOutcome(complete, true, true, false), R::WriteFailed) << "a failed close";
        EXPECT_EQ(finishedOutcome(complete, false, true, true), R::WriteFailed);
    }
    EXPECT_EQ(finishedOutcome(R::InternalError, true, false, false), R::InternalError);
    EXPECT_EQ(finishedOutcome(R::InternalError, false, true, true), R::WriteFailed);
}
