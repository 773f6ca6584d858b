// SPDX-License-Identifier: GPL-3.0-or-later
// The Win32 shell against real Win32 (under Wine in CI, on an X display): the window procedure's
// message handling, the GDI level meter, the GL views hosted as child windows, start-up and
// shutdown of the display.
#include <gtest/gtest.h>

#include "app/win32_shell.h"

#include <oleacc.h>

#include <GLFW/glfw3.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ios>
#include <thread>
#include <tuple>
#include <vector>

#include "analysis/spectrogram_analysis.h"
#include "app/app_state.h"
#include "display/gl_views.h"
#include "display/render_thread.h"
#include "tests/test_support.h"

// The executable links with --wrap=glfwSwapBuffers: a frame of the real render code is read back
// here, then presented as usual. RGB, bottom row first.
std::vector<unsigned char> framePixels;
GLFWwindow* readBackFrom = nullptr;   // set while no render thread runs
extern "C" void __real_glfwSwapBuffers(GLFWwindow* window);
extern "C" void __wrap_glfwSwapBuffers(GLFWwindow* window) {
    if (window != nullptr && window == readBackFrom) {
        framePixels.assign(GL_VIEW_FULL_WIDTH * GL_VIEW_HEIGHT * 3, 0x7F);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, GL_VIEW_FULL_WIDTH, GL_VIEW_HEIGHT, GL_RGB, GL_UNSIGNED_BYTE, framePixels.data());
    }
    __real_glfwSwapBuffers(window);
}

namespace {

HINSTANCE instance() { return GetModuleHandleW(nullptr); }

void pumpMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
        if (msg.message == WM_QUIT) return;   // left for takeQuit
        PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);
        if (handleMainWindowKey(msg)) continue;   // as WinMain's loop does
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// True when a quit message with exit code 0 is pending (and removes it).
bool takeQuit() {
    MSG msg;
    return PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) && msg.wParam == 0;
}

std::wstring textOf(HWND w) {
    wchar_t buf[512] = {};
    GetWindowTextW(w, buf, 512);
    return buf;
}

// A main window made with the calls WinMain makes, destroyed at the end of each test.
class Win32ShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetSharedState();
        static const ATOM registered = registerMainWindowClass(instance());
        ASSERT_NE(registered, 0);
        window = createMainWindow(instance());
        ASSERT_NE(window, nullptr);
        ShowWindow(window, SW_SHOWNOACTIVATE);   // hidden windows collect no update region
        pumpMessages();
    }
    void TearDown() override {
        recordingThreadActive.store(false);
        if (IsWindow(window)) DestroyWindow(window);
        pumpMessages();
        takeQuit();
        glfwWaveformWin = nullptr;
        glfwSpectrumWin = nullptr;
    }
    HWND window = nullptr;
};

// A 32-bit top-down DIB to paint into, pre-filled with a colour the paint never uses.
class Canvas {
public:
    Canvas(int width, int height) : width_(width) {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        dc_ = CreateCompatibleDC(nullptr);
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
        old_ = SelectObject(dc_, bitmap_);
        HBRUSH blue = CreateSolidBrush(RGB(0, 0, 255));
        RECT all{0, 0, width, height};
        FillRect(dc_, &all, blue);
        DeleteObject(blue);
    }
    ~Canvas() {
        SelectObject(dc_, old_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    HDC dc() const { return dc_; }
    COLORREF at(int x, int y) const {
        GdiFlush();
        const std::uint32_t bgrx = static_cast<const std::uint32_t*>(bits_)[y * width_ + x];
        return RGB((bgrx >> 16) & 0xFF, (bgrx >> 8) & 0xFF, bgrx & 0xFF);
    }
    // Pixels of row y from x0 (inclusive) to x1 (exclusive) with colour c.
    int count(int y, int x0, int x1, COLORREF c) const {
        int n = 0;
        for (int x = x0; x < x1; ++x) n += at(x, y) == c;
        return n;
    }

private:
    int width_;
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ old_;
    void* bits_ = nullptr;
};

constexpr COLORREF BLUE = RGB(0, 0, 255);
constexpr COLORREF GREEN = RGB(0, 200, 0);

DRAWITEMSTRUCT drawItem(HDC dc, RECT rc) {
    DRAWITEMSTRUCT item = {};
    item.CtlType = ODT_STATIC;
    item.hDC = dc;
    item.rcItem = rc;
    return item;
}

TEST_F(Win32ShellTest, CreationStoresTheWindowAndEachControlUnderItsId) {
    EXPECT_EQ(hwndMain, window);
    const struct {
        HWND handle;
        int id;
    } controls[] = {{hwndStart, IDC_START_RECORDING}, {hwndStop, IDC_STOP},
                    {hwndExportMP3, IDC_EXPORT_MP3}, {hwndStatus, 0},
                    {hwndVolumeMeter, IDC_VOLUME_METER}, {hwndWaveformGLContainer, IDC_WAVEFORM_GL},
                    {hwndSpectrumGLContainer, IDC_SPECTRUM_GL}, {hwndPlay, IDC_PLAY}};
    for (const auto& c : controls) {
        EXPECT_EQ(GetParent(c.handle), window) << c.id;
        EXPECT_EQ(GetDlgCtrlID(c.handle), c.id);
    }
    EXPECT_EQ(textOf(hwndStatus), L"Ready");
    RECT client;
    GetClientRect(hwndVolumeMeter, &client);
    EXPECT_EQ(client.right, GL_VIEW_FULL_WIDTH);
    EXPECT_EQ(client.bottom, 20);
}

TEST_F(Win32ShellTest, PrivateMessagesRepaintTheMeterAndSetTheStatusLine) {
    ValidateRect(hwndVolumeMeter, nullptr);
    currentLevel.store(0.5f);   // a bar edge other than the painted one
    EXPECT_EQ(SendMessageW(window, WM_APP_LEVEL_UPDATE, 0, 0), 0);
    RECT dirty;
    ASSERT_TRUE(GetUpdateRect(hwndVolumeMeter, &dirty, FALSE));
    EXPECT_EQ(dirty.left, 0);
    EXPECT_EQ(dirty.right, GL_VIEW_FULL_WIDTH);
    EXPECT_EQ(dirty.bottom, 20);
    // Once that is painted, an update whose bar ends at the same pixel repaints nothing.
    UpdateWindow(hwndVolumeMeter);
    currentLevel.store(0.5001f);
    EXPECT_EQ(SendMessageW(window, WM_APP_LEVEL_UPDATE, 0, 0), 0);
    EXPECT_FALSE(GetUpdateRect(hwndVolumeMeter, &dirty, FALSE));
    currentLevel.store(0.0f);

    // The done message as the capture thread sends it: posted from another thread.
    Win32Messaging messaging;
    savePath = L"C:\\takes\\Müller.wav";
    isRecording.store(true);   // the loop ended by itself: the message re-opens the Start guard
    std::thread([&] {
        messaging.postMessage(window, WM_APP_RECORDING_DONE,
                              static_cast<std::uintptr_t>(RecordingOutcome::Saved), 0);
    }).join();
    pumpMessages();
    EXPECT_EQ(textOf(hwndStatus), L"Saved to: C:\\takes\\Müller.wav");
    EXPECT_FALSE(isRecording.load());

    messaging.postMessage(window, WM_APP_RECORDING_DONE,
                          static_cast<std::uintptr_t>(RecordingOutcome::NoDevice), 0);
    pumpMessages();
    EXPECT_EQ(textOf(hwndStatus), L"Recording failed: no audio capture device could be opened.");
}

TEST_F(Win32ShellTest, CommandsActOnTheLowWordAndIgnoreOtherIds) {
    isRecording.store(true);
    EXPECT_EQ(SendMessageW(window, WM_COMMAND, MAKEWPARAM(99, BN_CLICKED), 0), 0);
    EXPECT_TRUE(isRecording.load());
    // Any notification code from the Stop button acts as a click.
    EXPECT_EQ(SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_STOP, BN_DOUBLECLICKED), 0), 0);
    EXPECT_FALSE(isRecording.load());
    EXPECT_TRUE(IsWindow(window));
}

// Keys as Windows queues them for the control with the focus; Shift through the thread's key state.
void key(UINT msg, WPARAM vk, bool shift = false) {
    BYTE state[256] = {};
    state[VK_SHIFT] = shift ? 0x80 : 0;
    SetKeyboardState(state);
    PostMessageW(GetFocus(), msg, vk, msg == WM_SYSKEYDOWN ? 1 << 29 : 0);   // Alt held
    pumpMessages();
}

TEST_F(Win32ShellTest, KeysMoveTheFocusInScreenOrderAndRunTheCommands) {
    SetFocus(window);   // the first time: the first control in screen order
    EXPECT_EQ(GetFocus(), hwndStart);
    std::vector<HWND> order;
    for (bool shift : {false, false, false, false, false, false, true, true, true})
        key(WM_KEYDOWN, VK_TAB, shift), order.push_back(GetFocus());
    EXPECT_EQ(order, (std::vector<HWND>{hwndStop, hwndExportMP3, hwndPause, hwndPlay, hwndInputChoice, hwndStart,
                                        hwndInputChoice, hwndPlay, hwndPause}));
    isRecording.store(true);
    recordingThreadActive.store(true);
    key(WM_KEYDOWN, VK_SPACE);   // presses the focused Pause
    EXPECT_TRUE(isPaused.load());
    EXPECT_EQ(textOf(hwndPause), L"Resume");
    key(WM_SYSKEYDOWN, 'P');
    key(WM_SYSKEYDOWN, VK_F1);   // 0x70, 'p' in ASCII: no letter
    EXPECT_FALSE(isPaused.load());
    EXPECT_EQ(textOf(hwndPause), L"&Pause");
    key(WM_SYSKEYDOWN, 'T');
    EXPECT_FALSE(isRecording.load());
    // Enter on Start: its Save As dialog opens (and is cancelled from another thread).
    recordingThreadActive.store(false);
    for (int i = 0; i < 3; ++i) key(WM_KEYDOWN, VK_TAB);   // Play, the input list, Start
    bool dialogSeen = false;
    std::thread canceller([&] {
        for (int i = 0; i < 200 && !dialogSeen; ++i, Sleep(50)) {
            DWORD pid = 0;
            const HWND box = FindWindowW(L"#32770", nullptr);
            if (box != nullptr && GetWindowThreadProcessId(box, &pid) && pid == GetCurrentProcessId())
                dialogSeen = PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
        }
    });
    key(WM_KEYDOWN, VK_RETURN);
    canceller.join();
    EXPECT_TRUE(dialogSeen);
}

// What a screen reader reads through MSAA: every control's name and role, the meter's live reading.
// Windows' proxy gives a button and a static text their own roles; Wine's gives them a client's.
TEST_F(Win32ShellTest, ScreenReadersFindEachControlsNameRoleAndTheMetersReading) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    SetWindowTextW(hwndActivity, L"Paused 0:01");
    constexpr long BUTTON = ROLE_SYSTEM_PUSHBUTTON, TEXT = ROLE_SYSTEM_STATICTEXT;
    const std::tuple<HWND, const wchar_t*, long> controls[] = {{hwndStart, L"Start Recording", BUTTON},
        {hwndStop, L"Stop", BUTTON}, {hwndExportMP3, L"Export MP3", BUTTON}, {hwndPause, L"Pause", BUTTON},
        {hwndStatus, L"Ready", TEXT}, {hwndActivity, L"Paused 0:01", TEXT}, {hwndVolumeMeter, L"Input level",
        ROLE_SYSTEM_PROGRESSBAR}, {hwndWaveformGLContainer, L"Waveform and spectrum", ROLE_SYSTEM_CHART},
        {hwndSpectrumGLContainer, L"Spectrogram", ROLE_SYSTEM_CHART}};
    VARIANT self{}, role{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    auto said = [](BSTR text) { std::wstring s = text ? text : L"(none)"; SysFreeString(text); return s; };
    for (const auto& [control, name, expectedRole] : controls) {
        IAccessible* a = nullptr;
        ASSERT_TRUE(SUCCEEDED(AccessibleObjectFromWindow(control, static_cast<DWORD>(OBJID_CLIENT),
                                                         __uuidof(IAccessible), reinterpret_cast<void**>(&a))));
        BSTR text = nullptr;
        a->get_accName(self, &text);
        EXPECT_EQ(said(text), name);
        a->get_accRole(self, &role);
        const bool standard = expectedRole == BUTTON || expectedRole == TEXT;
        EXPECT_TRUE(role.lVal == expectedRole || (standard && role.lVal == ROLE_SYSTEM_CLIENT)) << role.lVal;
        if (control == hwndVolumeMeter) {
            currentLevel.store(0.354f);
            text = nullptr;
            a->get_accValue(self, &text);
            EXPECT_EQ(said(text), L"-9 dB");
        }
        a->Release();
    }
    CoUninitialize();
}

TEST_F(Win32ShellTest, CloseWaitsForTheCaptureThreadThenDestroysAndQuits) {
    recordingThreadActive.store(true);
    isRecording.store(true);
    EXPECT_EQ(SendMessageW(window, WM_CLOSE, 0, 0), 0);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_FALSE(isRecording.load());
    EXPECT_TRUE(glRunning.load());
    EXPECT_FALSE(takeQuit());

    recordingThreadActive.store(false);
    EXPECT_EQ(SendMessageW(window, WM_CLOSE, 0, 0), 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(glRunning.load());
    EXPECT_TRUE(takeQuit());
}

TEST_F(Win32ShellTest, DrawItemPaintsTheMeterOnlyForItsId) {
    Canvas canvas(GL_VIEW_FULL_WIDTH, 20);
    currentLevel.store(1.0f);
    DRAWITEMSTRUCT item = drawItem(canvas.dc(), RECT{0, 0, GL_VIEW_FULL_WIDTH, 20});
    EXPECT_EQ(SendMessageW(window, WM_DRAWITEM, 5, reinterpret_cast<LPARAM>(&item)), 0);
    EXPECT_EQ(canvas.count(10, 0, GL_VIEW_FULL_WIDTH, BLUE), GL_VIEW_FULL_WIDTH);
    EXPECT_EQ(SendMessageW(window, WM_DRAWITEM, IDC_VOLUME_METER, reinterpret_cast<LPARAM>(&item)),
              1);
    EXPECT_EQ(canvas.count(10, 0, GL_VIEW_FULL_WIDTH, GREEN), GL_VIEW_FULL_WIDTH);
}

TEST(Win32LevelMeter, FillsTheWindowColourThenTheBarUpToTheLevelsEdge) {
    const COLORREF window = GetSysColor(COLOR_WINDOW);
    const struct {
        float level;
        int barWidth;   // for a 1160-pixel meter
    } cases[] = {{0.0f, 0}, {0.001f, 0}, {0.01f, 386}, {0.1f, 773}, {0.5f, 1043}, {1.0f, 1160}};
    for (int left : {0, 20}) {
        for (const auto& c : cases) {
            Canvas canvas(GL_VIEW_FULL_WIDTH + 40, 24);
            currentLevel.store(c.level);
            const RECT rc{left, 2, left + GL_VIEW_FULL_WIDTH, 22};
            EXPECT_EQ(paintLevelMeter(drawItem(canvas.dc(), rc)), TRUE);
            for (int y : {2, 12, 21}) {
                EXPECT_EQ(canvas.count(y, left, left + c.barWidth, GREEN), c.barWidth)
                    << "level " << c.level << " left " << left << " row " << y;
                EXPECT_EQ(canvas.count(y, left + c.barWidth, rc.right, window),
                          GL_VIEW_FULL_WIDTH - c.barWidth)
                    << "level " << c.level << " left " << left << " row " << y;
            }
            // Nothing outside the item rectangle is touched.
            EXPECT_EQ(canvas.count(1, 0, GL_VIEW_FULL_WIDTH + 40, BLUE), GL_VIEW_FULL_WIDTH + 40);
            EXPECT_EQ(canvas.count(22, 0, GL_VIEW_FULL_WIDTH + 40, BLUE), GL_VIEW_FULL_WIDTH + 40);
            EXPECT_EQ(canvas.at(rc.right, 12), BLUE);
        }
    }
    currentLevel.store(0.0f);
}

TEST_F(Win32ShellTest, ViewsFillTheirContainersAndHandTheWaveformContextToAnotherThread) {
    ASSERT_EQ(glfwInit(), GLFW_TRUE);
    GLFWwindow* waveform = createGLFWChild(hwndWaveformGLContainer, GL_VIEW_WIDTH, GL_VIEW_HEIGHT);
    ASSERT_NE(waveform, nullptr);
    EXPECT_EQ(glfwGetCurrentContext(), waveform);
    GLFWwindow* spectrum = createGLFWChild(hwndSpectrumGLContainer, GL_VIEW_WIDTH, GL_VIEW_HEIGHT);
    ASSERT_NE(spectrum, nullptr);
    EXPECT_EQ(glfwGetCurrentContext(), spectrum);
    glfwWaveformWin = waveform;
    glfwSpectrumWin = spectrum;

    const struct {
        GLFWwindow* view;
        HWND container;
    } views[] = {{waveform, hwndWaveformGLContainer}, {spectrum, hwndSpectrumGLContainer}};
    for (const auto& v : views) {
        // The native handle comes from the same window procedure GLFW installed.
        HWND native = FindWindowExW(v.container, nullptr, nullptr, nullptr);
        ASSERT_NE(native, nullptr);
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(native, GWL_STYLE)), WS_CHILD | WS_VISIBLE);
        EXPECT_TRUE(IsWindowVisible(native));   // created hidden, shown once placed
        RECT r;
        GetWindowRect(native, &r);
        POINT topLeft{r.left, r.top};
        ScreenToClient(v.container, &topLeft);
        EXPECT_EQ(topLeft.x, 0);
        EXPECT_EQ(topLeft.y, 0);
        EXPECT_EQ(r.right - r.left, GL_VIEW_FULL_WIDTH);
        EXPECT_EQ(r.bottom - r.top, GL_VIEW_HEIGHT);
    }

    GLFWwindow* currentThere = nullptr;
    std::thread([&] {
        glfwMakeContextCurrent(waveform);
        currentThere = glfwGetCurrentContext();
        glfwMakeContextCurrent(nullptr);
    }).join();
    EXPECT_EQ(currentThere, waveform);

    // Destruction runs through WM_DESTROY: views, then GLFW, then the quit message.
    DestroyWindow(window);
    EXPECT_TRUE(takeQuit());
    EXPECT_EQ(glfwGetCurrentContext(), nullptr);   // GLFW was terminated
}

// Waveform +10240 then -10240: rows (v / 32768 + 1) * 40 = 52.5 and 27.5 from the bottom, the step
// at x = 580. Spectrum 1/80 (row 40.5) with 1.0 at bin 1024: a peak to the top row at x = 290.
TEST_F(Win32ShellTest, WaveformViewShowsTheTraceAndTheSpectrumPeakWhereTheyBelong) {
    ASSERT_EQ(glfwInit(), GLFW_TRUE);
    GLFWwindow* view = glfwWaveformWin = createGLFWChild(hwndWaveformGLContainer, GL_VIEW_WIDTH, GL_VIEW_HEIGHT);
    ASSERT_NE(view, nullptr);
    std::vector<std::int16_t> samples(MAX_WAVEFORM_SIZE, 10240);
    std::fill(samples.begin() + MAX_WAVEFORM_SIZE / 2, samples.end(), -10240);
    {
        std::lock_guard<std::mutex> lock(waveformMutex);
        waveformBufferL.append(samples.data(), samples.size());   // a new waveform generation
    }
    std::vector<float> bins(4096, 1.0f / 80);
    bins[1024] = 1.0f;
    publishSpectrum(std::move(bins));
    // Wine resizes a child view's off-screen drawable once the resize was handled and a frame
    // swapped, so the first frame has the creation width (680); the render loop redraws 16 ms on.
    pumpMessages();
    renderWaveform(view);
    readBackFrom = view;
    renderWaveform(view);
    readBackFrom = nullptr;
    ASSERT_EQ(framePixels.size(), std::size_t{GL_VIEW_FULL_WIDTH * GL_VIEW_HEIGHT * 3});
    int wrong = 0, peakLeft = GL_VIEW_FULL_WIDTH, peakRight = -1;
    for (int x = 0; x < GL_VIEW_FULL_WIDTH; ++x) {
        for (int y = 0; y < GL_VIEW_HEIGHT; ++y) {
            const unsigned char* p = &framePixels[(y * GL_VIEW_FULL_WIDTH + x) * 3];
            const COLORREF seen = RGB(p[0], p[1], p[2]);
            if (y == GL_VIEW_HEIGHT - 1 && seen == RGB(255, 0, 0)) peakLeft = std::min(peakLeft, x), peakRight = x;
            if (x < 2 || x > 1157 || std::abs(x - 580) <= 2 || std::abs(x - 290) <= 2) continue;  // ends, step, peak
            const COLORREF expected = y == (x < 580 ? 52 : 27) ? RGB(0, 255, 0) : y == 40 ? RGB(255, 0, 0) : RGB(0, 0, 0);
            if (seen != expected && ++wrong <= 5) ADD_FAILURE() << "(" << x << ", " << y << "): " << std::hex << seen;
        }
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_TRUE(peakLeft >= 289 && peakRight <= 291) << "top row red from x = " << peakLeft << " to " << peakRight;
    DestroyWindow(window);
    EXPECT_TRUE(takeQuit());
}

// A 3 kHz tone at 48 kHz, analysed as the capture thread does, read back from the spectrum view:
// the right-hand columns' brightest row is 3 kHz's (56 of 80), near white; older than the take: black.
TEST_F(Win32ShellTest, SpectrumViewShowsTheTonesLineInItsRow) {
    ASSERT_EQ(glfwInit(), GLFW_TRUE);
    GLFWwindow* view = glfwSpectrumWin = createGLFWChild(hwndSpectrumGLContainer, GL_VIEW_WIDTH, GL_VIEW_HEIGHT);
    ASSERT_NE(view, nullptr);
    std::vector<float> tone(1024);
    for (std::size_t i = 0; i < tone.size(); ++i) tone[i] = 0.5f * std::sin(6.2831853f * 3000 * i / 48000);
    {
        std::lock_guard<std::mutex> lock(fftInputMutex);
        for (int i = 0; i < 40; ++i) spectrogramFeed.add(tone.data(), tone.size(), 1, 48000);
    }
    pumpMessages();
    renderSpectrogram(view);   // the first frame has the creation width under Wine (see above)
    readBackFrom = view;
    renderSpectrogram(view);
    readBackFrom = nullptr;
    ASSERT_EQ(framePixels.size(), std::size_t{GL_VIEW_FULL_WIDTH * GL_VIEW_HEIGHT * 3});
    auto luma = [](int x, int y) {
        const unsigned char* p = &framePixels[(y * GL_VIEW_FULL_WIDTH + x) * 3];
        return 299 * p[0] + 587 * p[1] + 114 * p[2];
    };
    for (int x : {GL_VIEW_FULL_WIDTH - 1, GL_VIEW_FULL_WIDTH - 30}) {
        int row = 0;
        for (int y = 1; y < GL_VIEW_HEIGHT; ++y) row = luma(x, y) > luma(x, row) ? y : row;
        EXPECT_EQ(row, 56) << "x = " << x;
        EXPECT_GT(luma(x, row), 200000) << "x = " << x;
    }
    EXPECT_EQ(luma(GL_VIEW_FULL_WIDTH - 60, 56), 0);
}

TEST_F(Win32ShellTest, StartDisplayRunsTheRenderThreadUntilTheWindowIsDestroyed) {
    RecordingMessaging messaging;
    startDisplay(mainWindowShell());
    ASSERT_NE(glfwWaveformWin, nullptr);
    ASSERT_NE(glfwSpectrumWin, nullptr);
    EXPECT_TRUE(messaging.errorBoxes().empty());
    EXPECT_EQ(glfwGetCurrentContext(), nullptr);   // both views are the render thread's
    EXPECT_TRUE(glRenderThread.joinable());

    EXPECT_EQ(SendMessageW(window, WM_CLOSE, 0, 0), 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(glRenderThread.joinable());
    EXPECT_TRUE(takeQuit());
}

}  // namespace
