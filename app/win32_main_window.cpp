// SPDX-License-Identifier: GPL-3.0-or-later
// The Win32 main window: class, window, the seven controls, the activity line, the Pause and
// Play buttons and the input chooser, and the window procedure, which only translates messages
// into the portable command logic (app/commands.h). GUI thread only.
#include "app/app_state.h"
#include "app/keyboard.h"
#include "app/save_dialog.h"
#include "app/win32_shell.h"

namespace {

constexpr DWORD CHILD_STYLE = WS_CHILD | WS_VISIBLE;   // 0x50000000
// The buttons take the focus with Tab (win32_keyboard.cpp); their texts mark the letter Alt
// presses them by with '&', shown underlined once Alt is held.
constexpr DWORD BUTTON_STYLE = CHILD_STYLE | WS_TABSTOP;   // 0x50010000

std::wstring buttonLabel(int id, bool paused = false) { return buttonMnemonicText(id, L'&', paused); }

HWND createControl(HWND parent, const wchar_t* className, const wchar_t* text, DWORD style,
                   int x, int y, int width, int height, int id) {
    return CreateWindowExW(0, className, text, style, x, y, width, height, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
}

// WM_CREATE: the controls in their fixed order, positions in client pixels.
void createControls(HWND parent) {
    hwndStart = createControl(parent, L"BUTTON", buttonLabel(IDC_START_RECORDING).c_str(), BUTTON_STYLE,
                              20, 20, 140, 30, IDC_START_RECORDING);
    hwndStop = createControl(parent, L"BUTTON", buttonLabel(IDC_STOP).c_str(), BUTTON_STYLE, 180, 20, 80, 30,
                             IDC_STOP);
    hwndExportMP3 = createControl(parent, L"BUTTON", buttonLabel(IDC_EXPORT_MP3).c_str(), BUTTON_STYLE, 270,
                                  20, 90, 30, IDC_EXPORT_MP3);
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
    hwndPause = createControl(parent, L"BUTTON", buttonLabel(IDC_PAUSE).c_str(), BUTTON_STYLE, 370, 20, 90,
                              30, IDC_PAUSE);
    hwndPlay = createControl(parent, L"BUTTON", buttonLabel(IDC_PLAY).c_str(), BUTTON_STYLE, 470, 20, 90, 30,
                             IDC_PLAY);
    // The input chooser below the spectrum view. A drop-down list's height is that of its open
    // list; the closed box is as tall as its selection field, set to make it 30 pixels.
    hwndInputLabel = createControl(parent, L"STATIC", INPUT_LABEL_TEXT, CHILD_STYLE | SS_NOPREFIX, 20, 305, 100, 20,
                                   IDC_INPUT_LABEL);
    hwndInputChoice = createControl(parent, L"COMBOBOX", L"", CHILD_STYLE | WS_TABSTOP | CBS_DROPDOWNLIST | WS_VSCROLL, 130, 300,
                                    450, 300, IDC_INPUT_CHOICE);
    SendMessageW(hwndInputChoice, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), 24);
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
            exposeControlsToScreenReaders();
            return 0;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_INPUT_CHOICE) {
                if (HIWORD(wParam) == CBN_SELCHANGE) {
                    const LRESULT index = SendMessageW(hwndInputChoice, CB_GETCURSEL, 0, 0);
                    if (index >= 0) onInputChosen(shell, static_cast<std::size_t>(index));
                }
                return 0;
            }
            onCommand(shell, wParam);   // ids other than the five buttons are ignored
            return 0;
        case WM_ACTIVATE:
            if (LOWORD(wParam) == WA_INACTIVE) rememberFocus();
            return DefWindowProcW(hwnd, msg, wParam, lParam);
        case WM_SETFOCUS:
            restoreFocus();
            return 0;
        case WM_APP_LEVEL_UPDATE:
        case WM_APP_RECORDING_DONE:
        case WM_APP_EXPORT_PROGRESS:
        case WM_APP_EXPORT_DONE:
        case WM_APP_DEVICES_CHANGED:
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

// CB_SETCURSEL sends no CBN_SELCHANGE: refilling the list is not taken as the user's choice.
void Win32MainWindowShell::showInputList(const std::vector<std::wstring>& labels, std::size_t chosen) {
    SendMessageW(hwndInputChoice, CB_RESETCONTENT, 0, 0);
    for (const std::wstring& label : labels)
        SendMessageW(hwndInputChoice, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(label.c_str()));
    SendMessageW(hwndInputChoice, CB_SETCURSEL, chosen, 0);
}

void Win32MainWindowShell::enableInputList(bool enabled) { EnableWindow(hwndInputChoice, enabled ? TRUE : FALSE); }
void Win32MainWindowShell::announce(HWND line, const std::wstring&) {
    notifyLiveRegion(line);   // a screen reader reads the line's new text itself
}

void Win32MainWindowShell::showPauseButton(bool paused) {
    SetWindowTextW(hwndPause, buttonLabel(IDC_PAUSE, paused).c_str());
}

void Win32MainWindowShell::levelReadingChanged() { notifyLevelReading(); }

void Win32MainWindowShell::invalidateLevelMeter() {
    // Repainted later through WM_DRAWITEM; a paint that would show the same bar is skipped.
    if (levelMeterBarMoved()) InvalidateRect(hwndVolumeMeter, nullptr, TRUE);
}

void Win32MainWindowShell::destroyMainWindow() { DestroyWindow(hwndMain); }

void Win32MainWindowShell::postQuit() { PostQuitMessage(0); }
