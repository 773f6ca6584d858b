// SPDX-License-Identifier: GPL-3.0-or-later
// Driver for bench/export_bench.sh: writes a test recording, or exports one with saveAsMP3 the way
// the export thread does, so /usr/bin/time can measure the whole process (wall time, peak RSS).
//   sonabel_export_bench generate <out.wav> <seconds> [rate] [channels]
//   sonabel_export_bench export <in.wav> <out.mp3>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "app/messaging.h"
#include "app/ws2s.h"
#include "capture/wav_header.h"
#include "export/mp3_export.h"

namespace {

class CountingMessaging final : public PlatformMessaging {
public:
    void postMessage(HWND, unsigned, std::uintptr_t, std::intptr_t) override {}
    void showErrorBox(const std::wstring& text) override {
        ++boxes;
        std::fprintf(stderr, "error box: %s\n", ws2s(text).c_str());
    }
    void debugLine(const char*) override {}
    int boxes = 0;
};

// Takes the export's progress as the app's export thread does (which posts each report).
class CountingProgress final : public ExportProgress {
public:
    void progressed(int) override { ++reports; }
    void finished(bool) override {}
    int reports = 0;
};

// Something closer to music than a test tone, so VBR has work to do: a chord whose notes drift,
// a beat-like envelope and some noise, different on each channel. Written one second at a time.
int generate(const char* path, double seconds, int rate, int channels) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const auto frames = static_cast<std::uint64_t>(seconds * rate);
    writeWavHeader(out, rate, 16, channels, frames * 2 * static_cast<std::uint64_t>(channels), false);
    const double pi = std::acos(-1.0);
    const double notes[] = {220.0, 277.18, 329.63, 440.0, 659.25};
    std::uint32_t noise = 12345;
    std::vector<unsigned char> second;
    for (std::uint64_t start = 0; start < frames; start += static_cast<std::uint64_t>(rate)) {
        second.clear();
        for (std::uint64_t i = start; i < frames && i < start + static_cast<std::uint64_t>(rate); ++i) {
            const double t = static_cast<double>(i) / rate;
            const double beat = 0.55 + 0.45 * std::exp(-8.0 * std::fmod(t, 0.5));
            for (int c = 0; c < channels; ++c) {
                double v = 0.0;
                for (int n = 0; n < 5; ++n) {
                    const double f = notes[n] * (1.0 + 0.003 * std::sin(2 * pi * (0.2 + 0.1 * n + 0.05 * c) * t));
                    v += std::sin(2 * pi * f * t + c) / (n + 1.5);
                }
                noise = noise * 1664525u + 1013904223u;
                v = beat * 0.35 * v + 0.04 * (static_cast<double>(noise >> 8) / 8388608.0 - 1.0);
                const auto s = static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(v * 32767.0)));
                second.push_back(static_cast<unsigned char>(s & 0xFF));
                second.push_back(static_cast<unsigned char>(s >> 8));
            }
        }
        out.write(reinterpret_cast<const char*>(second.data()), static_cast<std::streamsize>(second.size()));
    }
    return out ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "generate" && argc >= 4) {
        return generate(argv[2], std::atof(argv[3]), argc > 4 ? std::atoi(argv[4]) : 48000,
                        argc > 5 ? std::atoi(argv[5]) : 2);
    }
    if (mode == "export" && argc == 4) {
        CountingMessaging messaging;
        installPlatformMessaging(&messaging);
        const auto start = std::chrono::steady_clock::now();
        CountingProgress progress;
        saveAsMP3(utf8ToWide(argv[3]), utf8ToWide(argv[2]), &progress);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        installPlatformMessaging(nullptr);
        std::printf("saveAsMP3: %.3f s, %d progress reports\n", took.count(), progress.reports);
        return messaging.boxes == 0 ? 0 : 1;
    }
    std::fprintf(stderr,
                 "usage: %s generate <out.wav> <seconds> [rate] [channels]\n"
                 "       %s export <in.wav> <out.mp3>\n",
                 argv[0], argv[0]);
    return 2;
}
