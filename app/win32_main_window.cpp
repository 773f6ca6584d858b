// SPDX-License-Identifier: GPL-3.0-or-later
// The Win32 main window: class, window, the seven controls, the activity line and Play, and the
// window procedure, which only translates messages into the portable command logic
// (app/commands.h). GUI thread only.
#include "app/app_state.h"
#include "app/save_dialog.h"
#include "app/win32_shell.h"

namespace {

constexpr DWORD CHILD_STYLE = WS_CHILD | WS_VISIBLE;   // 0x50000000

HWND createControl(HWND parent, const wchar_t* className, const wchar_t* text, DWORD style,
                   int x, int y, int width, int height, int id) {
    return CreateWindowExW(0, className, text, style, x, y, width, height, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
}

// WM_CREATE: the controls in their fixed order, positions in client pixels.
void createControls(HWND parent) {
    hwndStart = createControl(parent, L"BUTTON", L"Start Recording", CHILD_STYLE, 20, 20, 140, 30,
                              IDC_START_RECORDING);
    hwndStop = createControl(parent, L"BUTTON", L"Stop", CHILD_STYLE, 180, 20, 80, 30, IDC_STOP);
    hwndExportMP3 = createControl(parent, L"BUTTON", L"Export MP3", CHILD_STYLE, 270, 20, 90, 30,
                                  IDC_EXPORT_MP3);
    hwndStatus = createControl(parent, L"STATIC", L"Ready", CHILD_STYLE, 20, 60,
                               GL_VIEW_FULL_WIDTH, 20, 0);
    hwndVolumeMeter = createControl(parent, L"STATIC", nullptr, CHILD_STYLE | SS_OWNERDRAW, 20, 90,
                                    GL_VIEW_FULL_WIDTH, 20, IDC_VOLUME_METER);
    hwndWaveformGLContainer = createControl(parent, L"STATIC", nullptr, CHILD_STYLE, 20, 120,
                                            GL_VIEW_FULL_WIDTH, GL_VIEW_HEIGHT, IDC_WAVEFORM_GL);
    hwndSpectrumGLContainer = createControl(parent, L"STATIC", nullptr, CHILD_STYLE, 20, 210,
                                            GL_VIEW_FULL_WIDTH, GL_VIEW_HEIGHT, IDC_SPECTRUM_GL);
    // Last, so the seven keep their order among the children. One line, centred on the buttons
    // vertically, cut with an ellipsis; '&' in a file name is shown, not taken as a mnemonic.
    hwndActivity = createControl(parent, L"STATIC", L"",
                                 CHILD_STYLE | SS_NOPREFIX | SS_CENTERIMAGE | SS_ENDELLIPSIS,
                                 ACTIVITY_X, 20, ACTIVITY_WIDTH, 30, IDC_ACTIVITY);
    hwndPlay = createControl(parent, L"BUTTON", L"Play", CHILD_STYLE, 470, 20, 90, 30, IDC_PLAY);
}

}  // namespace

Win32MainWindowShell& mainWindowShell() {
    static Win32MainWindowShell shell;
    return shell;
}

ATOM registerMainWindowClass(HINSTANCE instance) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = MAIN_WINDOW_CLASS;
    return RegisterClassW(&wc);
}

HWND createMainWindow(HINSTANCE instance) {
    return CreateWindowExW(0, MAIN_WINDOW_CLASS, MAIN_WINDOW_TITLE, WS_OVERLAPPEDWINDOW,
                           CW_USEDEFAULT, CW_USEDEFAULT, MAIN_WINDOW_WIDTH, MAIN_WINDOW_HEIGHT,
                           nullptr, nullptr, instance, nullptr);
}

LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Win32MainWindowShell& shell = mainWindowShell();
    switch (msg) {
        case WM_CREATE:
            createControls(hwnd);
            hwndMain = hwnd;
            return 0;
        case WM_COMMAND:
            onCommand(shell, wParam);   // ids other than the four buttons are ignored
            return 0;
        case WM_APP_LEVEL_UPDATE:
        case WM_APP_RECORDING_DONE:
        case WM_APP_EXPORT_PROGRESS:
        case WM_APP_EXPORT_DONE:
        case WM_APP_PLAYBACK_PROGRESS:
        case WM_APP_PLAYBACK_DONE:
            onAppMessage(shell, msg, wParam);
            return 0;
        case WM_CLOSE:
            onClose(shell);   // destroys the window only while no capture thread is alive
            return 0;
        case WM_DESTROY:
            onDestroy(shell);   // joins the render thread, drops the views, posts the quit
            return 0;
        case WM_DRAWITEM:
            if (static_cast<UINT>(wParam) == IDC_VOLUME_METER)
                return paintLevelMeter(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            return 0;
        default:
            return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

std::wstring Win32MainWindowShell::browseSavePath() { return ::browseSavePath(hwndMain); }

void Win32MainWindowShell::setStatusText(const std::wstring& text) {
    SetWindowTextW(hwndStatus, text.c_str());
}

void Win32MainWindowShell::setActivityText(const std::wstring& text) {
    SetWindowTextW(hwndActivity, text.c_str());
}

void Win32MainWindowShell::invalidateLevelMeter() {
    // Repainted later through WM_DRAWITEM; a paint that would show the same bar is skipped.
    if (levelMeterBarMoved()) InvalidateRect(hwndVolumeMeter, nullptr, TRUE);
}

void Win32MainWindowShell::destroyMainWindow() { DestroyWindow(hwndMain); }

void Win32MainWindowShell::postQuit() { PostQuitMessage(0); }
