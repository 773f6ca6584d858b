// SPDX-License-Identifier: GPL-3.0-or-later
// The three operations worker threads use to reach the GUI, the user and the debugger output.
// Any thread; none of them takes a lock of the program's own.
#include "app/win32_shell.h"

void Win32Messaging::postMessage(HWND hwnd, unsigned msg, std::uintptr_t wParam,
                                 std::intptr_t lParam) {
    // Queued for the window's thread in posting order; the result is not examined (the window
    // may already be gone when a late message is posted).
    PostMessageW(hwnd, msg, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam));
}

void Win32Messaging::showErrorBox(const std::wstring& text) {
    // Modal on the calling thread, with its own message loop: other threads go on.
    MessageBoxW(nullptr, text.c_str(), L"Error", MB_ICONERROR);
}

void Win32Messaging::debugLine(const char* line) { OutputDebugStringA(line); }
