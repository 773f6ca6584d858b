// SPDX-License-Identifier: GPL-3.0-or-later
// The GTK/X11 shell under a real X server (Xvfb, Mesa): GL views hosted in their containers,
// the render thread drawing into them, the level meter painting and the messaging seam.
#include <GL/glew.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/app_state.h"
#include "app/gtk_shell.h"
#include "capture/recording_outcome.h"
#include "display/gl_views.h"
#include "display/render_thread.h"
#include "test_support.h"

// Xlib last: its macros (None, Bool, ...) clash with GoogleTest's names.
#define GLFW_EXPOSE_NATIVE_X11
#include <GLFW/glfw3.h>
#include <GLFW/glfw3native.h>
#include <gdk/gdkx.h>

namespace {

void ensureGtk() {
    static const bool ready = [] {
        gdk_set_allowed_backends("x11");
        return gtk_init_check(nullptr, nullptr) != FALSE;
    }();
    ASSERT_TRUE(ready) << "no X display";
}

void pumpGtk() {
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
}

// Runs the GTK loop until `done` holds, for at most ~5 s of polling.
bool pumpUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 500; ++i) {
        pumpGtk();
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Pixels of an X window as 0xRRGGBB, read over a connection of our own (like a screenshot).
struct Snapshot {
    int width = 0, height = 0;
    std::vector<unsigned long> pixels;
    unsigned long at(int x, int y) const { return pixels[static_cast<std::size_t>(y * width + x)]; }
    int countInRow(int y, unsigned long colour) const {
        int n = 0;
        for (int x = 0; x < width; ++x) n += at(x, y) == colour;
        return n;
    }
};

Snapshot snapshot(Window window) {
    Snapshot s;
    Display* d = XOpenDisplay(nullptr);
    XWindowAttributes a;
    XGetWindowAttributes(d, window, &a);
    XImage* image = XGetImage(d, window, 0, 0, a.width, a.height, AllPlanes, ZPixmap);
    s.width = a.width;
    s.height = a.height;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) s.pixels.push_back(XGetPixel(image, x, y) & 0xFFFFFF);
    XDestroyImage(image);
    XCloseDisplay(d);
    return s;
}

constexpr unsigned long GREEN = 0x00FF00, RED = 0xFF0000, BLUE = 0x0000FF, BLACK = 0;

// Forwards to the real GTK shell, except that the chosen view cannot be created.
class FailingViewShell final : public MainWindowShell {
public:
    FailingViewShell(GtkMainWindowShell& inner, HWND failing) : inner_(inner), failing_(failing) {}
    std::wstring browseSavePath() override { return inner_.browseSavePath(); }
    void setStatusText(const std::wstring& t) override { inner_.setStatusText(t); }
    void setActivityText(const std::wstring& t) override { inner_.setActivityText(t); }
    void showInputList(const std::vector<std::wstring>& l, std::size_t c) override { inner_.showInputList(l, c); }
    void enableInputList(bool e) override { inner_.enableInputList(e); }
    void announce(HWND line, const std::wstring& t) override { inner_.announce(line, t); }
    void showPauseButton(bool paused) override { inner_.showPauseButton(paused); }
    void invalidateLevelMeter() override { inner_.invalidateLevelMeter(); }
    void levelReadingChanged() override { inner_.levelReadingChanged(); }
    void destroyMainWindow() override { inner_.destroyMainWindow(); }
    void postQuit() override { inner_.postQuit(); }
    void initGLFW() override { inner_.initGLFW(); }
    GLFWwindow* createGLView(HWND container, int w, int h) override {
        return container == failing_ ? nullptr : inner_.createGLView(container, w, h);
    }
    void releaseCurrentGLContext() override { inner_.releaseCurrentGLContext(); }
    void startRenderThread() override { inner_.startRenderThread(); }
    void destroyGLViewsAndTerminate() override { inner_.destroyGLViewsAndTerminate(); }

private:
    GtkMainWindowShell& inner_;
    HWND failing_;
};

gboolean destroyLater(gpointer shell) {
    static_cast<GtkMainWindowShell*>(shell)->destroyMainWindow();
    return G_SOURCE_REMOVE;
}

// Closes the window the way the application does (destroy -> onDestroy -> quit), inside a loop.
void destroyWindow(GtkMainWindowShell& shell) {
    g_idle_add(destroyLater, &shell);
    gtk_main();
    EXPECT_FALSE(shell.alive());
}

class GtkShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        ensureGtk();
        resetSharedState();
        glfwWaveformWin = nullptr;
        glfwSpectrumWin = nullptr;
    }
};

}  // namespace

TEST_F(GtkShellTest, ViewsFillTheirContainersAndHandTheWaveformContextToAnotherThread) {
    GtkMainWindowShell shell("");
    shell.create();
    shell.show();
    // Every control exactly at its rectangle, whatever the theme pads (Adwaita: 34 px buttons).
    for (auto [control, want] : {std::pair{hwndStart, GdkRectangle{20, 20, 140, 30}},
         {hwndStop, {180, 20, 80, 30}}, {hwndExportMP3, {270, 20, 90, 30}}, {hwndStatus, {20, 60, 1160, 20}},
         {hwndVolumeMeter, {20, 90, 1160, 20}}, {hwndWaveformGLContainer, {20, 120, 1160, 80}},
         {hwndSpectrumGLContainer, {20, 210, 1160, 80}}, {hwndPause, {370, 20, 90, 30}},
         {hwndPlay, {470, 20, 90, 30}}}) {
        GtkAllocation a;
        gtk_widget_get_allocation(reinterpret_cast<GtkWidget*>(control), &a);
        EXPECT_TRUE(gdk_rectangle_equal(&a, &want)) << a.x << "," << a.y << " " << a.width << "x" << a.height;
    }
    const int s = gtk_widget_get_scale_factor(shell.window());   // device pixels: GDK_SCALE
    glfwInit();
    glfwWaveformWin = createGLFWChild(hwndWaveformGLContainer, GL_VIEW_WIDTH, GL_VIEW_HEIGHT);
    ASSERT_NE(glfwWaveformWin, nullptr);
    EXPECT_EQ(glfwGetCurrentContext(), glfwWaveformWin);
    glfwSpectrumWin = createGLFWChild(hwndSpectrumGLContainer, GL_VIEW_WIDTH, GL_VIEW_HEIGHT);
    ASSERT_NE(glfwSpectrumWin, nullptr);
    EXPECT_EQ(glfwGetCurrentContext(), glfwSpectrumWin);

    for (auto [view, container] : {std::pair{glfwWaveformWin, hwndWaveformGLContainer},
                                   std::pair{glfwSpectrumWin, hwndSpectrumGLContainer}}) {
        Display* d = glfwGetX11Display();
        const Window child = glfwGetX11Window(view);
        XWindowAttributes a;
        XGetWindowAttributes(d, child, &a);
        EXPECT_EQ(a.x, 0);
        EXPECT_EQ(a.y, 0);
        EXPECT_EQ(a.width, GL_VIEW_FULL_WIDTH * s);   // the container's size, not the 680 asked
        EXPECT_EQ(a.height, GL_VIEW_HEIGHT * s);
        EXPECT_EQ(a.map_state, IsViewable);
        Window root, parent, *children = nullptr;
        unsigned count = 0;
        XQueryTree(d, child, &root, &parent, &children, &count);
        if (children) XFree(children);
        GtkWidget* widget = reinterpret_cast<GtkWidget*>(container);
        EXPECT_EQ(parent, gdk_x11_window_get_xid(gtk_widget_get_window(widget)));
    }

    // Paint the waveform view blue here, then let the render thread run with glRunning false:
    // it must end without drawing a frame, so the blue stays.
    glfwMakeContextCurrent(glfwWaveformWin);
    glClearColor(0, 0, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glfwSwapBuffers(glfwWaveformWin);
    shell.releaseCurrentGLContext();
    EXPECT_EQ(glfwGetCurrentContext(), nullptr);
    glRunning.store(false);
    startGLRenderThread();
    glRenderThread.join();
    const Snapshot still = snapshot(glfwGetX11Window(glfwWaveformWin));
    EXPECT_EQ(still.at(10, 10), BLUE);
    EXPECT_EQ(still.at(1150 * s, 70 * s), BLUE);

    // The context is free: another thread can make it current.
    bool madeCurrent = false;
    std::thread([&] {
        glfwMakeContextCurrent(glfwWaveformWin);
        madeCurrent = glfwGetCurrentContext() == glfwWaveformWin;
        glfwMakeContextCurrent(nullptr);
    }).join();
    EXPECT_TRUE(madeCurrent);
    destroyWindow(shell);
}

TEST_F(GtkShellTest, WithoutTheSpectrumViewTheErrorIsShownAndTheWaveformViewStillDraws) {
    RecordingMessaging messaging;
    GtkMainWindowShell real("");
    real.create();
    real.show();
    FailingViewShell shell(real, hwndSpectrumGLContainer);
    {
        std::lock_guard<std::mutex> lock(waveformMutex);
        const std::vector<std::int16_t> half(2320, 16384);   // a flat line at y = 0.5
        waveformBufferL.append(half.data(), half.size());
    }
    std::vector<float> bins(4096, 0.0f);
    bins[2048] = 1.0f;   // a peak in the middle of the view
    publishSpectrum(std::move(bins));
    startDisplay(shell);
    ASSERT_NE(glfwWaveformWin, nullptr);
    EXPECT_EQ(glfwSpectrumWin, nullptr);
    // The waveform view's context was handed back by the GUI thread (GLX forbids a context
    // current on two threads; Mesa does not enforce it, so check the hand-over itself).
    EXPECT_EQ(glfwGetCurrentContext(), nullptr);
    ASSERT_EQ(messaging.errorBoxes().size(), 1u);
    EXPECT_EQ(messaging.errorBoxes()[0], SPECTRUM_VIEW_FAILED_TEXT);

    // y = 0.5 lands on row 20 of 80 (rows count from the top); y = 0 on row 40.
    const int s = gtk_widget_get_scale_factor(real.window());   // same picture, s x the pixels
    Snapshot frame;
    const Window view = glfwGetX11Window(glfwWaveformWin);
    ASSERT_TRUE(pumpUntil([&] {
        frame = snapshot(view);
        return frame.countInRow(20 * s - 1, GREEN) + frame.countInRow(20 * s, GREEN) > 1000 * s;
    })) << "the render thread never drew the waveform";
    EXPECT_GT(frame.countInRow(40 * s - 1, RED) + frame.countInRow(40 * s, RED), 1000 * s);
    int peakColumn = -1;
    for (int x = 0; x < frame.width; ++x)
        if (frame.at(x, s) == RED) peakColumn = x;
    EXPECT_NEAR(peakColumn, 580 * s, 2 * s);
    EXPECT_EQ(frame.at(5 * s, 70 * s), BLACK);
    destroyWindow(real);   // joins the render thread, drops the view, terminates GLFW
    EXPECT_FALSE(glRenderThread.joinable());
}

TEST_F(GtkShellTest, WithoutTheWaveformViewTheRenderThreadEndsAtOnce) {
    RecordingMessaging messaging;
    GtkMainWindowShell real("");
    real.create();
    real.show();
    FailingViewShell shell(real, hwndWaveformGLContainer);
    startDisplay(shell);
    EXPECT_EQ(glfwWaveformWin, nullptr);
    EXPECT_NE(glfwSpectrumWin, nullptr);
    EXPECT_TRUE(messaging.errorBoxes().empty());
    ASSERT_TRUE(glRenderThread.joinable());
    glRenderThread.join();   // hangs (test time-out) if the loop went on without a view
    EXPECT_TRUE(glRunning.load());
    destroyWindow(real);
}

TEST(GtkLevelMeter, PaintsTheBackgroundThenTheBarToTheLevelsEdge) {
    struct Case {
        float level;
        int right;
    };
    for (const Case c : {Case{0.0f, 0}, Case{0.01f, 386}, Case{0.1f, 773}, Case{1.0f, 1160}}) {
        SCOPED_TRACE(c.level);
        cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1160, 20);
        cairo_t* cr = cairo_create(surface);
        cairo_set_source_rgb(cr, 1, 0, 1);   // garbage the paint must cover
        cairo_paint(cr);
        paintLevelMeterRect(cr, 1160, 20, c.level);
        cairo_surface_flush(surface);
        const unsigned char* data = cairo_image_surface_get_data(surface);
        const int stride = cairo_image_surface_get_stride(surface);
        auto pixel = [&](int x, int y) {
            std::uint32_t v;
            std::memcpy(&v, data + y * stride + x * 4, 4);
            return v & 0xFFFFFF;
        };
        for (int y : {0, 19}) {
            if (c.right > 0) {
                EXPECT_EQ(pixel(c.right - 1, y), 0x00C800u);
            }
            if (c.right < 1160) {
                EXPECT_EQ(pixel(c.right, y), 0xFFFFFFu);
            }
            EXPECT_EQ(pixel(0, y), c.right > 0 ? 0x00C800u : 0xFFFFFFu);
        }
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
    }
}

// A level update redraws the meter only when the bar's edge moves, in pixels of the width GTK
// allocated to the meter (here 580, half the window's 1160): a paint would otherwise put the same
// pixels back.
TEST_F(GtkShellTest, LevelUpdatesRedrawTheMeterOnlyWhenTheBarEdgeMovesAtItsAllocatedWidth) {
    GtkMainWindowShell shell("");
    shell.create();
    GtkWidget* meter = reinterpret_cast<GtkWidget*>(hwndVolumeMeter);
    gtk_widget_set_size_request(meter, 580, 20);
    shell.show();
    ASSERT_EQ(gtk_widget_get_allocated_width(meter), 580);
    // Every "draw" of the meter is counted by an emission hook (the handlers stop the emission).
    struct Draws {
        GtkWidget* meter;
        int count = 0;
    } draws{meter};
    const guint drawSignal = g_signal_lookup("draw", GTK_TYPE_WIDGET);
    const gulong hook = g_signal_add_emission_hook(drawSignal, 0, [](GSignalInvocationHint*, guint,
        const GValue* params, gpointer data) -> gboolean {
        auto* d = static_cast<Draws*>(data);
        d->count += g_value_get_object(&params[0]) == d->meter;
        return TRUE;
    }, &draws, nullptr);
    auto paintNow = [&] {
        const int before = draws.count;
        gtk_widget_queue_draw(meter);
        return pumpUntil([&] { return draws.count > before; });
    };
    // Takes away the meter's pending redraw, if any.
    auto redrawQueued = [&] {
        cairo_region_t* area = gdk_window_get_update_area(gtk_widget_get_window(meter));
        if (area == nullptr) return false;
        cairo_region_destroy(area);
        return true;
    };
    ASSERT_TRUE(paintNow());   // the bar of level 0 is on screen: its edge is 0
    redrawQueued();

    // Levels whose edges at 580 px are 193, 193 (387 at 1160, where 0.01's is 386) and 194.
    const float third = 0.01f, sameAt580 = 0.010046f, onePixelOn = 0.01013f;
    ASSERT_EQ(levelBarRight(sameAt580, 0, 580), levelBarRight(third, 0, 580));
    ASSERT_NE(levelBarRight(sameAt580, 0, 1160), levelBarRight(third, 0, 1160));
    ASSERT_EQ(levelBarRight(onePixelOn, 0, 580), levelBarRight(third, 0, 580) + 1);
    for (auto [level, moved] : {std::pair{0.0f, false}, {third, true}, {sameAt580, false},
                                {onePixelOn, true}, {onePixelOn, false}}) {
        SCOPED_TRACE(level);
        currentLevel.store(level);
        onAppMessage(shell, WM_APP_LEVEL_UPDATE, 0);
        EXPECT_EQ(redrawQueued(), moved);
        if (moved) {
            ASSERT_TRUE(paintNow());   // the new edge is painted
        }
    }
    g_signal_remove_emission_hook(drawSignal, hook);
    destroyWindow(shell);
}

TEST_F(GtkShellTest, PostedMessagesArriveInOrderAndErrorBoxesBlockOnlyTheirThread) {
    TempDir dir;
    const std::string log = dir.file("status.log").string();
    GtkMainWindowShell shell(log);
    shell.create();
    GtkMessaging messaging(shell);
    installPlatformMessaging(&messaging);
    savePath = L"/tmp/take.wav";

    const HWND main = hwndMain;
    std::thread([main] {
        for (RecordingOutcome o : {RecordingOutcome::NoDevice, RecordingOutcome::FileCreateFailed,
                                   RecordingOutcome::Saved}) {
            postAppMessage(main, WM_APP_LEVEL_UPDATE);
            postAppMessage(main, WM_APP_RECORDING_DONE, static_cast<std::uintptr_t>(o));
        }
    }).join();   // the sender never waited for the GTK thread
    auto lines = [&] {
        std::ifstream in(log);
        std::vector<std::string> out;
        for (std::string l; std::getline(in, l);) out.push_back(l);
        return out;
    };
    ASSERT_TRUE(pumpUntil([&] { return lines().size() == 3; }));
    EXPECT_EQ(lines()[0], "Recording failed: no audio capture device could be opened.");
    EXPECT_EQ(lines()[1], "Recording failed: could not create /tmp/take.wav");
    EXPECT_EQ(lines()[2], "Saved to: /tmp/take.wav");

    // An error box from a worker: shown on the GTK thread, neither modal nor grabbing (the main
    // window keeps its clicks); the worker waits for the OK.
    struct BoxCheck {
        std::atomic<bool> returned{false};
        std::string title;
        bool workerWasWaiting = false, blocksMainWindow = true;
    } check;
    std::thread worker([&] {
        showErrorBox(L"Export failed: disk full");
        check.returned.store(true);
    });
    g_timeout_add(20, [](gpointer data) -> gboolean {
        auto* c = static_cast<BoxCheck*>(data);
        GtkWidget* box = nullptr;
        GList* all = gtk_window_list_toplevels();
        for (GList* w = all; w; w = w->next)
            if (GTK_IS_MESSAGE_DIALOG(w->data) && gtk_widget_get_visible(GTK_WIDGET(w->data)))
                box = GTK_WIDGET(w->data);
        g_list_free(all);
        if (box == nullptr) return G_SOURCE_CONTINUE;
        c->title = gtk_window_get_title(GTK_WINDOW(box));
        c->workerWasWaiting = !c->returned.load();
        c->blocksMainWindow = gtk_window_get_modal(GTK_WINDOW(box)) || gtk_grab_get_current();
        gtk_dialog_response(GTK_DIALOG(box), GTK_RESPONSE_OK);
        return G_SOURCE_REMOVE;
    }, &check);
    ASSERT_TRUE(pumpUntil([&] { return check.returned.load(); }));
    worker.join();
    EXPECT_EQ(check.title, "Error");
    EXPECT_TRUE(check.workerWasWaiting);
    EXPECT_FALSE(check.blocksMainWindow);

    // After the window is gone, a late done message is dropped, as for a destroyed HWND.
    glRunning.store(true);
    destroyWindow(shell);
    postAppMessage(main, WM_APP_RECORDING_DONE, 0);
    pumpGtk();
    EXPECT_EQ(lines().size(), 3u);
    installPlatformMessaging(nullptr);
}

TEST(GtkSaveDialog, AudioFilesMatchInAnyCaseAndANameMustBeUtf8InAnExistingFolder) {
    ensureGtk();
    GtkFileFilter* filter = GTK_FILE_FILTER(g_object_ref_sink(newFileFilter("Audio Files", AUDIO_FILE_PATTERNS)));
    for (auto [name, listed] : {std::pair{"X.WAV", 1}, {"y.Mp3", 1}, {"z.wav", 1}, {"z.wav.txt", 0}}) {
        GtkFileFilterInfo info{GTK_FILE_FILTER_DISPLAY_NAME, nullptr, nullptr, name, nullptr};
        EXPECT_EQ(gtk_file_filter_filter(filter, &info), listed) << name;
    }
    g_object_unref(filter);
    TempDir dir;
    ASSERT_TRUE(std::filesystem::create_directory(dir.file("caf\xE9")));   // Latin-1 bytes
    EXPECT_EQ(savePathRefusal(dir.file("x.wav").c_str()), nullptr);
    EXPECT_NE(savePathRefusal(dir.file("caf\xE9/x.wav").c_str()), nullptr);   // would become U+FFFD
    EXPECT_NE(savePathRefusal(dir.file("missing/x.wav").c_str()), nullptr);
}
