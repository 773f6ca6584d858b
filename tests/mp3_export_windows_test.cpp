// SPDX-License-Identifier: GPL-3.0-or-later
// WAV -> MP3 export on Windows: another program holds a file for a moment, as a virus scanner or
// the search indexer does with a file that has just been written.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "export/mp3_export.h"
#include "tests/mp3_export_fixtures.h"
#include "tests/test_support.h"

namespace fs = std::filesystem;

using namespace mp3_export_test;

namespace {

// The export's temporary in `folder` once it shows up, opened with `share`; null when `stop` comes
// first. 10 ms between looks.
HANDLE openTemporary(const fs::path& folder, DWORD share, const std::atomic<bool>& stop) {
    while (!stop) {
        for (const auto& entry : fs::directory_iterator(folder)) {
            if (entry.path().filename().wstring().rfind(L".sonabel-", 0) != 0) continue;
            const HANDLE handle = CreateFileW(entry.path().c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
            if (handle != INVALID_HANDLE_VALUE) return handle;
        }
        Sleep(10);
    }
    return nullptr;
}

}  // namespace

// Held without delete sharing until 300 ms after the MP3 is complete: the old file by the chosen
// name (the replace must wait for it), or the temporary itself, opened while it is written (the
// move to a new name must wait for it).
TEST(Mp3ExportWindows, AFileHeldOpenForAMomentIsStillReplaced) {
    TempDir dir;
    writeFileBytes(dir.file("rec.wav"), wavBytes(44100, 2, toneSamples(44100, 2, 10 * 44100, {440.0, 1000.0})));
    {
        RecordingMessaging sink;
        saveAsMP3(dir.file("ref.mp3").wstring(), dir.file("rec.wav").wstring());
        ASSERT_TRUE(sink.errorBoxes().empty());
    }
    writeFileBytes(dir.file("old.mp3"), {1, 2, 3});
    for (const char* name : {"old.mp3", "new.mp3"}) {
        SCOPED_TRACE(name);
        const HANDLE target = fs::exists(dir.file(name))
                                  ? CreateFileW(dir.file(name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                nullptr, OPEN_EXISTING, 0, nullptr)
                                  : nullptr;
        ASSERT_NE(target, INVALID_HANDLE_VALUE);
        std::atomic<bool> exported{false};
        std::thread scanner([&] {
            // Shares the export's write access, so it opens while the export writes.
            const HANDLE held = target ? nullptr : openTemporary(dir.path(), FILE_SHARE_READ | FILE_SHARE_WRITE, exported);
            // Opens only once the export has closed the temporary, its write access gone.
            const HANDLE closed = openTemporary(dir.path(), FILE_SHARE_READ | FILE_SHARE_DELETE, exported);
            if (closed) CloseHandle(closed);
            Sleep(300);
            if (const HANDLE handle = target ? target : held) CloseHandle(handle);
        });
        RecordingMessaging sink;
        saveAsMP3(dir.file(name).wstring(), dir.file("rec.wav").wstring());
        exported = true;
        scanner.join();
        EXPECT_TRUE(sink.errorBoxes().empty());
        EXPECT_EQ(readFileBytes(dir.file(name)), readFileBytes(dir.file("ref.mp3")));
    }
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"new.mp3", "old.mp3", "rec.wav", "ref.mp3"}))
        << "no temporary or backup left";
}
