// SPDX-License-Identifier: GPL-3.0-or-later
// Windows entry: Win32 window, WASAPI capture, GL views as child windows. Only wiring; the
// behaviour lives in app/commands.cpp. The executable is built for the console subsystem;
// mingw-w64's and MSVC's start-up code call WinMain with the module instance, the command line
// after the program name and the show state from STARTUPINFO (else SW_SHOWDEFAULT).
#include <system_error>
#include <thread>

#include "app/app_state.h"
#include "app/win32_shell.h"
#include "capture/capture_thread.h"
#include "capture/wasapi_devices.h"
#include "capture/playback_thread.h"
#include "capture/wasapi_playback.h"
#include "capture/wasapi_source.h"
#include "export/mp3_export.h"

namespace {

// Until GetMessageW sees the quit message. GUI thread.
void runMessageLoop() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (handleMainWindowKey(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Exports still running when the window has gone must complete their files. Another thread
// waits for them while this one keeps its message queue serviced, then ends the loop.
void finishRunningExports() {
    const DWORD guiThread = GetCurrentThreadId();
    try {
        std::thread waiter([guiThread] {
            waitForRunningExports();
            PostThreadMessageW(guiThread, WM_QUIT, 0, 0);
        });
        runMessageLoop();
        waiter.join();
    } catch (const std::system_error&) {
        waitForRunningExports();   // no thread to spare: wait right here
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int nCmdShow) {
    // A COM apartment for the GUI thread: screen readers reach the window's accessible objects
    // through it (win32_accessibility.cpp), and the Save As dialog's shell extensions expect one.
    const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    // Static: a late post from a worker thread must find the object alive at process exit.
    static Win32Messaging messaging;
    installPlatformMessaging(&messaging);
    setCaptureSourceFactory(makeWasapiCaptureSource);
    setPlaybackOutputFactory(makeWasapiPlaybackOutput);

    registerMainWindowClass(hInstance);
    hwndMain = createMainWindow(hInstance);   // WM_CREATE makes the seven controls
    showInputList(mainWindowShell());   // the default input until the watcher's first list
    const HWND window = hwndMain;
    deviceWatcher = makeWasapiDeviceWatcher([window] { postAppMessage(window, WM_APP_DEVICES_CHANGED); });
    ShowWindow(hwndMain, nCmdShow);
    startDisplay(mainWindowShell());   // GLFW, the waveform view, the spectrum view, render thread
    runMessageLoop();                  // until WM_DESTROY posts the quit message
    deviceWatcher.reset();

    waitForPlaybackThreads();   // ended by the close; each takes a poll to see it
    finishRunningExports();
    if (com) CoUninitialize();
    return 0;
}
