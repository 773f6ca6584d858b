// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Shared helpers for the unit tests: a recording messaging sink, shared-state reset and
// temporary files.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "app/messaging.h"

struct PostedMessage {
    HWND hwnd;
    unsigned msg;
    std::uintptr_t wParam;
    std::intptr_t lParam;
};

// Records everything the core sends through the messaging seam. Thread-safe.
class RecordingMessaging final : public PlatformMessaging {
public:
    RecordingMessaging() { installPlatformMessaging(this); }
    ~RecordingMessaging() override { installPlatformMessaging(nullptr); }

    void postMessage(HWND hwnd, unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) override;
    void showErrorBox(const std::wstring& text) override;
    void debugLine(const char* line) override;

    std::vector<PostedMessage> posted() const;
    std::vector<std::wstring> errorBoxes() const;
    std::vector<std::string> debugLines() const;
    std::size_t count(unsigned msg) const;

    // Lets a test check state at the moment a message is posted (e.g. the done message).
    void setOnPost(void (*hook)(unsigned msg)) { onPost_ = hook; }

private:
    mutable std::mutex mutex_;
    std::vector<PostedMessage> posted_;
    std::vector<std::wstring> errors_;
    std::vector<std::string> lines_;
    void (*onPost_)(unsigned) = nullptr;
};

// Puts every process-wide object back to its start-up value (the tests share one process).
void resetSharedState();

// Publishes `bins` as the analysis does: under spectrumMutex, with a new spectrum generation, so
// the views copy it on their next frame.
void publishSpectrum(std::vector<float> bins);

// A fresh empty directory under the system temp folder, removed by the destructor.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path file(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

std::vector<unsigned char> readFileBytes(const std::filesystem::path& path);
void writeFileBytes(const std::filesystem::path& path, const std::vector<unsigned char>& bytes);
