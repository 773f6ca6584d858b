// SPDX-License-Identifier: GPL-3.0-or-later
// Keyboard use of the main window as a dialog box has it, by the rules of app/keyboard.h: Tab and
// Shift+Tab move the focus among the controls with WS_TABSTOP in screen order, Enter and Space
// press the focused button, Alt and a button's letter runs its command, and the window gives the
// focus back to the control that had it when it is active again. IsDialogMessage is not used:
// in a window that is no dialog box its Enter sends IDOK (1, Start Recording) and its Escape
// IDCANCEL (2, Stop) whatever has the focus, and its Tab follows the order the controls were
// made in. GUI thread.
#include <vector>

#include "app/app_state.h"
#include "app/keyboard.h"
#include "app/win32_shell.h"

namespace {

HWND lastFocus = nullptr;   // the control that had the focus when the window was last left

// The controls with WS_TABSTOP that can take the focus now, in the order of the window's children.
std::vector<HWND> tabStops() {
    std::vector<HWND> stops;
    for (HWND c = GetWindow(hwndMain, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT))
        if ((GetWindowLongW(c, GWL_STYLE) & WS_TABSTOP) && IsWindowVisible(c) && IsWindowEnabled(c))
            stops.push_back(c);
    return stops;
}

ControlBox boxOf(HWND control) {
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, hwndMain, reinterpret_cast<POINT*>(&r), 2);
    return ControlBox{r.left, r.top, r.right - r.left, r.bottom - r.top};
}

// The main window's control that `w` is or lies in (a drop-down's edit box), or null.
HWND controlOf(HWND w) {
    while (w != nullptr && (GetWindowLongW(w, GWL_STYLE) & WS_CHILD) && GetParent(w) != hwndMain) w = GetParent(w);
    return w != nullptr && GetParent(w) == hwndMain ? w : nullptr;
}

bool isPushButton(HWND w) {
    wchar_t cls[16] = {};
    GetClassNameW(w, cls, 16);
    const LONG type = GetWindowLongW(w, GWL_STYLE) & BS_TYPEMASK;
    return CompareStringOrdinal(cls, -1, L"Button", -1, TRUE) == CSTR_EQUAL &&
           (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON);
}

// Shows the focus rectangle or the underlined letters, which Windows hides until the keyboard
// is used.
void showKeyboardCues(WORD cues) { SendMessageW(hwndMain, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, cues), 0); }

void runCommand(int id, HWND control) {
    SendMessageW(hwndMain, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
}

// Tab or Shift+Tab: the next control in screen order takes the focus.
void moveFocus(bool backwards) {
    const std::vector<HWND> stops = tabStops();
    std::vector<ControlBox> boxes;
    int current = -1;
    const HWND focus = controlOf(GetFocus());
    for (HWND c : stops) {
        if (c == focus) current = static_cast<int>(boxes.size());
        boxes.push_back(boxOf(c));
    }
    const int next = nextInScreenOrder(boxes, current, backwards);
    if (next < 0) return;
    SetFocus(stops[static_cast<std::size_t>(next)]);
    showKeyboardCues(UISF_HIDEFOCUS);
}

Key keyOf(WPARAM vk) {
    switch (vk) {
        case VK_TAB: return Key::Tab;
        case VK_RETURN: return Key::Enter;
        case VK_SPACE: return Key::Space;
        default: return Key::Other;
    }
}

}  // namespace

bool handleMainWindowKey(const MSG& msg) {
    if (hwndMain == nullptr || (msg.hwnd != hwndMain && !IsChild(hwndMain, msg.hwnd))) return false;
    if (msg.message == WM_SYSKEYDOWN) {
        if (msg.wParam == VK_MENU) {
            showKeyboardCues(UISF_HIDEACCEL);
            return false;
        }
        // A letter with Alt held (bit 29). A letter key's virtual-key code is its capital; F1 to F12
        // and the keypad's digits have the codes of small letters (Alt+F4 is 's').
        const bool letter = msg.wParam >= 'A' && msg.wParam <= 'Z' && (msg.lParam & (1 << 29)) != 0;
        const int id = letter ? mnemonicCommand(static_cast<char32_t>(msg.wParam)) : 0;
        if (id == 0) return false;
        runCommand(id, GetDlgItem(hwndMain, id));
        return true;
    }
    if (msg.message != WM_KEYDOWN) return false;
    const KeyAction action = keyAction(keyOf(msg.wParam), GetKeyState(VK_SHIFT) < 0, GetKeyState(VK_MENU) < 0,
                                       GetKeyState(VK_CONTROL) < 0);
    if (action == KeyAction::FocusNext || action == KeyAction::FocusPrevious) {
        moveFocus(action == KeyAction::FocusPrevious);
        return true;
    }
    const HWND focus = GetFocus();
    if (action != KeyAction::PressFocused || focus == nullptr || GetParent(focus) != hwndMain || !isPushButton(focus))
        return false;   // other controls (a drop-down) take their keys themselves
    runCommand(GetDlgCtrlID(focus), focus);
    return true;
}

void rememberFocus() {
    if (const HWND focus = controlOf(GetFocus())) lastFocus = focus;
}

void restoreFocus() {
    if (lastFocus != nullptr && IsWindow(lastFocus) && GetParent(lastFocus) == hwndMain) {
        SetFocus(lastFocus);
        return;
    }
    // The first time, as a dialog box does: the first control in screen order.
    const std::vector<HWND> stops = tabStops();
    std::vector<ControlBox> boxes;
    for (HWND c : stops) boxes.push_back(boxOf(c));
    const int first = nextInScreenOrder(boxes, -1, false);
    if (first >= 0) SetFocus(stops[static_cast<std::size_t>(first)]);
}
