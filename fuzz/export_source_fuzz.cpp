// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: the MP3 export's reading of its source WAV file (tag and format checks, the
// channel and sample-rate refusals, the read-and-encode loop) on arbitrary file contents. The
// input goes through a real file and the real saveAsMP3, so nothing here copies the export.
// Error boxes are counted, not shown. Run by scripts/fuzz.sh.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/messaging.h"
#include "export/mp3_export.h"

namespace {

class QuietMessaging final : public PlatformMessaging {
public:
    void postMessage(HWND, unsigned, std::uintptr_t, std::intptr_t) override {}
    void showErrorBox(const std::wstring&) override { ++errorBoxes; }
    void debugLine(const char*) override {}
    unsigned long errorBoxes = 0;
};

QuietMessaging messaging;
std::filesystem::path folder;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    installPlatformMessaging(&messaging);
    // One folder per fuzzing process (tmpfs when /dev/shm exists: no disk wear, fast).
    const char* base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
    folder = std::filesystem::path(base) / ("sonabel-fuzz-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    std::atexit([] { std::filesystem::remove_all(folder); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path source = folder / "source.wav";
    const std::filesystem::path mp3 = folder / "out.mp3";
    std::FILE* f = std::fopen(source.c_str(), "wb");
    if (f == nullptr) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
    saveAsMP3(mp3.wstring(), source.wstring());
    // The export leaves no temporary file behind, on any path.
    std::size_t entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(folder)) entries += e.exists();
    if (entries > 2) std::abort();
    std::filesystem::remove(mp3);
    return 0;
}
