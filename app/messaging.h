// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The three operations worker threads use to reach the user and the debugger output. Each
// shell installs its implementation once, on the GUI thread, before any worker thread starts.
#include <cstdint>
#include <string>

#include "app/app_types.h"

constexpr unsigned WM_APP_LEVEL_UPDATE = 0x8001;     // WM_APP + 1
constexpr unsigned WM_APP_RECORDING_DONE = 0x8002;   // WM_APP + 2; wParam = RecordingOutcome
// From an export thread; wParam = exportMessageParam(the export's id, value).
constexpr unsigned WM_APP_EXPORT_PROGRESS = 0x8003;  // WM_APP + 3; value = whole percent read
constexpr unsigned WM_APP_EXPORT_DONE = 0x8004;      // WM_APP + 4; value = 1 saved, 0 failed
// From the device watcher's thread: the devices changed; the GUI thread asks it what they are.
constexpr unsigned WM_APP_DEVICES_CHANGED = 0x8005;  // WM_APP + 5
// From a playback thread (capture/playback_thread.h); the id is the playback's.
constexpr unsigned WM_APP_PLAYBACK_PROGRESS = 0x8006;  // WM_APP + 6; wParam = the id
constexpr unsigned WM_APP_PLAYBACK_DONE = 0x8007;      // WM_APP + 7; value = PlaybackOutcome
// The id and a value below 256 in one wParam (lParam does not reach every shell's handler).
constexpr std::uintptr_t exportMessageParam(std::uintptr_t id, unsigned value) { return id << 8 | (value & 0xFF); }
constexpr std::uintptr_t exportMessageId(std::uintptr_t wParam) { return wParam >> 8; }
constexpr unsigned exportMessageValue(std::uintptr_t wParam) { return static_cast<unsigned>(wParam & 0xFF); }

class PlatformMessaging {
public:
    virtual ~PlatformMessaging() = default;
    // Queues `msg` for the GUI thread; delivered to the main window in posting order.
    // Any thread; never blocks the caller.
    virtual void postMessage(HWND hwnd, unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) = 0;
    // Shows a modal error box (caption "Error", error icon, one OK button) and returns once the
    // user dismissed it. Any thread; other threads are not held up.
    virtual void showErrorBox(const std::wstring& text) = 0;
    // Emits one complete line (newline included) to the debug output. Any thread.
    virtual void debugLine(const char* line) = 0;
    // False when debugLine would discard its line, so callers can skip formatting it. Any
    // thread; cheap (asked once per packet).
    virtual bool debugEnabled() { return true; }
};

// Installs the process's implementation; nullptr restores the default (posts and lines are
// dropped, error texts go to stderr). Not thread-safe against concurrent use of the seam.
void installPlatformMessaging(PlatformMessaging* messaging);

void postAppMessage(HWND hwnd, unsigned msg, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);
void showErrorBox(const std::wstring& text);
void emitDebugLine(const char* line);
bool debugLinesEnabled();
