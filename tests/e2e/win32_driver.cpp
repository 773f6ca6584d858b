// SPDX-License-Identifier: GPL-3.0-or-later
// Drives the running sonabel.exe from outside, as a user would through its window, for the
// Windows end-to-end test (run under Wine next to the app). One action per run; exit status 0
// when the action succeeded. Paths may be given as Unix paths; they become Z:\... paths.
//   win32_driver wait-window SECONDS      the main window exists
//   win32_driver layout                   window, nine controls and GL views as laid out
//   win32_driver origin                   prints the client area's screen position "X Y"
//   win32_driver start PATH | export PATH clicks the button, types PATH into the Save As dialog
//   win32_driver start-cancel             clicks Start, cancels the dialog
//   win32_driver stop | pause | play | close  clicks Stop / Pause (or Resume) / Play / asks the window to close
//   win32_driver text ID                  prints the text of the control with that id
//   win32_driver kill                     TerminateProcess of the window's process (a crash);
//                                         prints the Unix time of the call
//   win32_driver status                   prints the status line (UTF-8)
//   win32_driver wait-status TEXT SECONDS the status line becomes TEXT
//   win32_driver activity [TEXT SECONDS]  prints the activity line (once it contains TEXT)
//   win32_driver error-box TEXT SECONDS   an "Error" box saying TEXT appears; dismisses it
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwctype>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr int CMB13 = 0x47c;   // Save As dialog: file name combo box
constexpr int EDT1 = 0x480;    // Save As dialog: file name edit (older layout)
constexpr DWORD CHILD = WS_CHILD | WS_VISIBLE;
constexpr DWORD BUTTON = CHILD | WS_TABSTOP;

int failures = 0;

std::string utf8(const std::wstring& w) {
    if (w.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, s.data(), n, nullptr, nullptr);
    s.resize(static_cast<std::size_t>(n - 1));
    return s;
}

void expect(bool ok, const std::string& what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
    if (!ok) ++failures;
}

std::wstring windowsPath(std::wstring p) {
    if (!p.empty() && p[0] == L'/') {
        for (wchar_t& c : p) if (c == L'/') c = L'\\';
        p = L"Z:" + p;
    }
    return p;
}

std::wstring classOf(HWND w);
bool sameNoCase(std::wstring a, std::wstring b);

// A window's text; a drop-down list's is its chosen entry.
std::wstring textOf(HWND w) {
    wchar_t buf[1024] = {};
    const LRESULT chosen = sameNoCase(classOf(w), L"COMBOBOX") ? SendMessageW(w, CB_GETCURSEL, 0, 0) : CB_ERR;
    if (chosen != CB_ERR && SendMessageW(w, CB_GETLBTEXTLEN, chosen, 0) < 1024)
        SendMessageW(w, CB_GETLBTEXT, chosen, reinterpret_cast<LPARAM>(buf));
    else
        GetWindowTextW(w, buf, 1024);
    return buf;
}

std::wstring classOf(HWND w) {
    wchar_t buf[256] = {};
    GetClassNameW(w, buf, 256);
    return buf;
}

bool sameNoCase(std::wstring a, std::wstring b) {
    for (auto& c : a) c = static_cast<wchar_t>(std::towlower(c));
    for (auto& c : b) c = static_cast<wchar_t>(std::towlower(c));
    return a == b;
}

HWND mainWindow() { return FindWindowW(L"SonabelApp", L"Sonabel with FFT"); }

template <typename F>
bool waitFor(double seconds, F done) {
    for (int i = 0; i < static_cast<int>(seconds * 20); ++i) {
        if (done()) return true;
        Sleep(50);
    }
    return done();
}

std::vector<HWND> directChildren(HWND parent) {
    std::vector<HWND> out;
    for (HWND c = GetWindow(parent, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT))
        out.push_back(c);
    return out;
}

RECT rectIn(HWND w, HWND parent) {
    RECT r;
    GetWindowRect(w, &r);
    POINT tl{r.left, r.top}, br{r.right, r.bottom};
    ScreenToClient(parent, &tl);
    ScreenToClient(parent, &br);
    return RECT{tl.x, tl.y, br.x, br.y};
}

HWND statusLine(HWND main) {
    for (HWND c : directChildren(main))
        if (GetDlgCtrlID(c) == 0 && sameNoCase(classOf(c), L"STATIC")) return c;
    return nullptr;
}

struct Expected {
    const wchar_t* cls;
    const wchar_t* text;
    DWORD style;
    int x, y, w, h, id;
};

int layout(HWND main) {
    const Expected controls[] = {
        {L"BUTTON", L"&Start Recording", BUTTON, 20, 20, 140, 30, 1},
        {L"BUTTON", L"S&top", BUTTON, 180, 20, 80, 30, 2},
        {L"BUTTON", L"&Export MP3", BUTTON, 270, 20, 90, 30, 10},
        {L"STATIC", L"Ready", CHILD, 20, 60, 1160, 20, 0},
        {L"STATIC", L"", CHILD | SS_OWNERDRAW, 20, 90, 1160, 20, 3},
        {L"STATIC", L"", CHILD, 20, 120, 1160, 80, 1101},
        {L"STATIC", L"", CHILD, 20, 210, 1160, 80, 1102},
        {L"STATIC", L"", CHILD | SS_NOPREFIX | SS_CENTERIMAGE | SS_ENDELLIPSIS, 580, 20, 600, 30, 11},
        {L"BUTTON", L"&Pause", BUTTON, 370, 20, 90, 30, 14},
        {L"BUTTON", L"P&lay", BUTTON, 470, 20, 90, 30, 15},
        {L"STATIC", L"Record from:", CHILD | SS_NOPREFIX, 20, 305, 100, 20, 12},
        // The drop-down's text is its chosen entry, the default input with the device's name.
        // (WS_VSCROLL goes to its list.)
        {L"COMBOBOX", nullptr, CHILD | WS_TABSTOP | CBS_DROPDOWNLIST, 130, 300, 450, 30, 13},
    };
    RECT outer;
    GetWindowRect(main, &outer);
    const DWORD mainStyle = static_cast<DWORD>(GetWindowLongW(main, GWL_STYLE));
    expect((mainStyle & WS_OVERLAPPEDWINDOW) == WS_OVERLAPPEDWINDOW && (mainStyle & WS_VISIBLE),
           "main window: WS_OVERLAPPEDWINDOW, visible");
    expect(outer.right - outer.left == 1200 && outer.bottom - outer.top == 1400,
           "main window: outer size 1200 x 1400 (got " + std::to_string(outer.right - outer.left) +
               " x " + std::to_string(outer.bottom - outer.top) + ")");
    const std::vector<HWND> children = directChildren(main);
    const std::size_t n = std::size(controls);
    expect(children.size() == n, "main window: " + std::to_string(n) + " controls (got " +
                                     std::to_string(children.size()) + ")");
    for (std::size_t i = 0; i < children.size() && i < n; ++i) {
        const Expected& e = controls[i];
        const HWND c = children[i];
        const RECT r = rectIn(c, main);
        const DWORD style = static_cast<DWORD>(GetWindowLongW(c, GWL_STYLE));
        char what[160];
        std::snprintf(what, sizeof what, "control %zu (id %d): class %s, text \"%s\", style 0x%08lX, "
                      "(%ld,%ld,%ld,%ld)", i + 1, GetDlgCtrlID(c), utf8(classOf(c)).c_str(),
                      utf8(textOf(c)).c_str(), static_cast<unsigned long>(style), r.left, r.top,
                      r.right - r.left, r.bottom - r.top);
        const bool textOk = e.text == nullptr ? textOf(c).rfind(L"Default input", 0) == 0 : textOf(c) == e.text;
        expect(sameNoCase(classOf(c), e.cls) && textOk && style == e.style &&
                   GetDlgCtrlID(c) == e.id && GetWindowLongW(c, GWL_EXSTYLE) == 0 &&
                   r.left == e.x && r.top == e.y && r.right - r.left == e.w &&
                   r.bottom - r.top == e.h,
               what);
    }
    // Each GL container holds its view: a child filling the container, style exactly
    // WS_CHILD | WS_VISIBLE. The views come after the window is shown (GL start-up is slow
    // under Wine), and each is a child a moment before its style and size are set (SetParent,
    // then SetWindowLongW and SetWindowPos on the app's GUI thread): wait for the placed child.
    const auto placed = [&](int id) {
        const HWND container = GetDlgItem(main, id);
        const HWND view = GetWindow(container, GW_CHILD);
        if (view == nullptr) return false;
        const RECT r = rectIn(view, container);
        return static_cast<DWORD>(GetWindowLongW(view, GWL_STYLE)) == CHILD && r.left == 0 &&
               r.top == 0 && r.right == 1160 && r.bottom == 80;
    };
    waitFor(30, [&] { return placed(1101) && placed(1102); });
    for (int id : {1101, 1102}) {
        const HWND container = GetDlgItem(main, id);
        const HWND view = container ? GetWindow(container, GW_CHILD) : nullptr;
        const RECT r = view ? rectIn(view, container) : RECT{};
        const DWORD style = view ? static_cast<DWORD>(GetWindowLongW(view, GWL_STYLE)) : 0;
        char what[160];
        std::snprintf(what, sizeof what, "GL view in container %d: %s, style 0x%08lX, "
                      "(%ld,%ld,%ld,%ld)", id, view ? "present" : "missing",
                      static_cast<unsigned long>(style), r.left, r.top, r.right - r.left,
                      r.bottom - r.top);
        expect(placed(id), what);
    }
    return failures == 0 ? 0 : 1;
}

// The Save As dialog of the app's process, once it is shown.
HWND findSaveDialog(HWND main) {
    DWORD appPid = 0;
    GetWindowThreadProcessId(main, &appPid);
    HWND found = nullptr;
    waitFor(10, [&] {
        for (HWND d = FindWindowExW(nullptr, nullptr, L"#32770", nullptr); d != nullptr;
             d = FindWindowExW(nullptr, d, L"#32770", nullptr)) {
            DWORD pid = 0;
            GetWindowThreadProcessId(d, &pid);
            if (pid == appPid && IsWindowVisible(d)) {
                found = d;
                return true;
            }
        }
        return false;
    });
    return found;
}

int chooseThrough(HWND main, int commandId, const std::wstring* path) {
    PostMessageW(main, WM_COMMAND, static_cast<WPARAM>(commandId), 0);   // the dialog is modal
    const HWND dialog = findSaveDialog(main);
    if (dialog == nullptr) {
        std::printf("FAIL no Save As dialog appeared\n");
        return 1;
    }
    if (path == nullptr) {
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
    } else {
        HWND name = GetDlgItem(dialog, CMB13);
        if (name == nullptr) name = GetDlgItem(dialog, EDT1);
        if (name == nullptr) {
            std::printf("FAIL the Save As dialog has no file name box\n");
            return 1;
        }
        SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path->c_str()));
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
    }
    if (!waitFor(10, [&] { return !IsWindow(dialog); })) {
        std::printf("FAIL the Save As dialog stayed open\n");
        return 1;
    }
    return 0;
}

int errorBox(const std::wstring& text, double seconds) {
    // The box is found as soon as it exists, a moment before its text does on a loaded machine:
    // waited for until it says TEXT.
    HWND box = nullptr;
    bool saysIt = false;
    waitFor(seconds, [&] {
        box = FindWindowW(L"#32770", L"Error");
        if (box != nullptr)
            for (HWND c : directChildren(box)) saysIt = saysIt || textOf(c) == text;
        return saysIt;
    });
    if (box == nullptr) {
        std::printf("FAIL no Error box appeared\n");
        return 1;
    }
    std::printf("%s the Error box says \"%s\"\n", saysIt ? "ok  " : "FAIL", utf8(text).c_str());
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return saysIt && waitFor(10, [&] { return !IsWindow(box); }) ? 0 : 1;
}

}  // namespace

int main() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const std::wstring action = argc > 1 ? argv[1] : L"";
    const std::wstring arg = argc > 2 ? argv[2] : L"";
    const double seconds = argc > 3 ? _wtof(argv[3]) : 10.0;

    if (action == L"wait-window")
        return waitFor(_wtof(arg.c_str()), [] { return mainWindow() != nullptr; }) ? 0 : 1;
    if (action == L"error-box") return errorBox(arg, seconds);

    const HWND main = mainWindow();
    if (main == nullptr) {
        std::printf("FAIL no window of class SonabelApp titled \"Sonabel with FFT\"\n");
        return 1;
    }
    if (action == L"layout") return layout(main);
    if (action == L"origin") {
        POINT p{0, 0};
        ClientToScreen(main, &p);
        std::printf("%ld %ld\n", p.x, p.y);
        return 0;
    }
    if (action == L"start" || action == L"export") {
        const std::wstring path = windowsPath(arg);
        return chooseThrough(main, action == L"start" ? 1 : 10, &path);
    }
    if (action == L"start-cancel") return chooseThrough(main, 1, nullptr);
    if (action == L"stop") return PostMessageW(main, WM_COMMAND, 2, 0) ? 0 : 1;
    if (action == L"pause") return PostMessageW(main, WM_COMMAND, 14, 0) ? 0 : 1;
    if (action == L"text") {
        std::printf("%s\n", utf8(textOf(GetDlgItem(main, _wtoi(arg.c_str())))).c_str());
        return 0;
    }
    if (action == L"play") return PostMessageW(main, WM_COMMAND, 15, 0) ? 0 : 1;
    if (action == L"close") return PostMessageW(main, WM_CLOSE, 0, 0) ? 0 : 1;
    if (action == L"kill") {
        DWORD pid = 0;
        GetWindowThreadProcessId(main, &pid);
        const HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
        if (process == nullptr) return 1;
        FILETIME now;  // 100 ns since 1601; Wine's clock is the host's
        GetSystemTimeAsFileTime(&now);
        const ULONGLONG ticks = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
        std::printf("%.3f\n", static_cast<double>(ticks - 116444736000000000ull) / 1e7);
        const bool ok = TerminateProcess(process, 9) &&
                        WaitForSingleObject(process, 10000) == WAIT_OBJECT_0;
        CloseHandle(process);
        return ok ? 0 : 1;
    }
    if (action == L"status") {
        std::printf("%s\n", utf8(textOf(statusLine(main))).c_str());
        return 0;
    }
    if (action == L"wait-status") {
        const bool ok = waitFor(seconds, [&] { return textOf(statusLine(main)) == arg; });
        std::printf("%s\n", utf8(textOf(statusLine(main))).c_str());
        return ok ? 0 : 1;
    }
    if (action == L"activity") {
        const bool ok = waitFor(seconds, [&] { return textOf(GetDlgItem(main, 11)).find(arg) != std::wstring::npos; });
        std::printf("%s\n", utf8(textOf(GetDlgItem(main, 11))).c_str());
        return ok ? 0 : 1;
    }
    std::printf("usage: see the comment at the top of win32_driver.cpp\n");
    return 2;
}
