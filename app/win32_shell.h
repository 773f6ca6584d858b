// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The Win32 shell's pieces, shared between its files. GUI thread only unless said otherwise.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/commands.h"
#include "display/gl_views.h"
#include "app/messaging.h"

constexpr wchar_t MAIN_WINDOW_CLASS[] = L"SonabelApp";
constexpr wchar_t MAIN_WINDOW_TITLE[] = L"Sonabel with FFT";

// The main window as the command logic sees it: every call goes straight to Win32 on the
// window handles kept in the shared state (app/app_state.h).
class Win32MainWindowShell final : public GlfwViewHost {
public:
    std::wstring browseSavePath() override;
    void setStatusText(const std::wstring& text) override;
    void setActivityText(const std::wstring& text) override;
    void showInputList(const std::vector<std::wstring>& labels, std::size_t chosen) override;
    void enableInputList(bool enabled) override;
    void announce(HWND line, const std::wstring& text) override;
    void showPauseButton(bool paused) override;
    void invalidateLevelMeter() override;
    void levelReadingChanged() override;
    void destroyMainWindow() override;
    void postQuit() override;
};

// The one shell object WndProc translates into; WinMain hands it to startDisplay.
Win32MainWindowShell& mainWindowShell();

// Registers the "SonabelApp" class: WndProc, `instance`, arrow cursor, COLOR_WINDOW + 1 brush,
// every other field zero. The result is not examined by the caller.
ATOM registerMainWindowClass(HINSTANCE instance);
// Creates the main window ("Sonabel with FFT", WS_OVERLAPPEDWINDOW, default position,
// 1200 x 1400); its WM_CREATE creates the seven controls, then the activity line, the Pause and
// Play buttons and the input chooser.
HWND createMainWindow(HINSTANCE instance);
LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// The keyboard (win32_keyboard.cpp). The message loop offers each message here before it
// translates and dispatches it; true when the message was a key of the main window's and has been
// handled (it is then neither translated nor dispatched).
bool handleMainWindowKey(const MSG& msg);
// WM_ACTIVATE when the window is left / WM_SETFOCUS: the control with the focus is kept, and
// given the focus back (the first control in screen order the first time).
void rememberFocus();
void restoreFocus();

// For screen readers (win32_accessibility.cpp). Once the controls exist: the meter and the views
// answer WM_GETOBJECT with their names, descriptions, roles and the meter's reading; the status
// and activity lines become polite live regions.
void exposeControlsToScreenReaders();
// The meter's reading changed / a line's new text is to be read.
void notifyLevelReading();
void notifyLiveRegion(HWND line);

// Paints the owner-drawn level meter from currentLevel: the item rectangle in the window colour,
// then the green bar from its left edge to levelBarRight. Returns TRUE.
LRESULT paintLevelMeter(const DRAWITEMSTRUCT& item);
// True when currentLevel's bar edge differs from the one painted last (or none was painted).
bool levelMeterBarMoved();

// PlatformMessaging for Win32: PostMessageW, MessageBoxW (no owner, "Error", MB_ICONERROR) and
// OutputDebugStringA. Every function may be called from any thread.
class Win32Messaging final : public PlatformMessaging {
public:
    void postMessage(HWND hwnd, unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) override;
    void showErrorBox(const std::wstring& text) override;
    void debugLine(const char* line) override;
};
