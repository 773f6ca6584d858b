// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/test_support.h"

#include <atomic>
#include <fstream>
#include <iterator>
#include <random>

#include "analysis/spectrogram_analysis.h"
#include "app/app_state.h"

void RecordingMessaging::postMessage(HWND hwnd, unsigned msg, std::uintptr_t wParam,
                                     std::intptr_t lParam) {
    if (onPost_) onPost_(msg);
    std::lock_guard<std::mutex> lock(mutex_);
    posted_.push_back({hwnd, msg, wParam, lParam});
}

void RecordingMessaging::showErrorBox(const std::wstring& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    errors_.push_back(text);
}

void RecordingMessaging::debugLine(const char* line) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.emplace_back(line);
}

std::vector<PostedMessage> RecordingMessaging::posted() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return posted_;
}

std::vector<std::wstring> RecordingMessaging::errorBoxes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return errors_;
}

std::vector<std::string> RecordingMessaging::debugLines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

std::size_t RecordingMessaging::count(unsigned msg) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t n = 0;
    for (const auto& m : posted_) n += m.msg == msg;
    return n;
}

void resetSharedState() {
    isRecording.store(false);
    recordingThreadActive.store(false);
    isPaused.store(false);
    globalSampleRate = 44100;
    savePath = L"output.wav";
    currentLevel.store(0.0f);
    glRunning.store(true);
    activityLine = ActivityLine();
    for (auto* n : {&takeCounters.sampleRate, &takeCounters.channels}) n->store(0);
    for (auto* n : {&takeCounters.dataLimit, &takeCounters.dataBytes}) n->store(0);
    takeCounters.clipped.store(false);
    {
        std::lock_guard<std::mutex> lock(fftInputMutex);
        fftInputBuffer.clear();
        spectrogramFeed.clear();
    }
    {
        std::lock_guard<std::mutex> lock(waveformMutex);
        waveformBufferL.clear();
    }
    {
        std::lock_guard<std::mutex> lock(spectrumMutex);
        spectrumBuffer.clear();
        spectrogramHistory.clear();
    }
}

void publishSpectrum(std::vector<float> bins) {
    std::lock_guard<std::mutex> lock(spectrumMutex);
    spectrumBuffer.replace(bins);
}

TempDir::TempDir() {
    static std::atomic<unsigned> serial{0};
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() /
            ("sonabel-test-" + std::to_string(rd()) + "-" + std::to_string(serial++));
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::vector<unsigned char> readFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

void writeFileBytes(const std::filesystem::path& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}
