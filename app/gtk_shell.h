#pragma once
// The GTK shell's pieces, shared between its files. GTK thread only unless said otherwise.
#include <gtk/gtk.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "app/commands.h"
#include "display/gl_views.h"
#include "app/messaging.h"

// The main window as the command logic sees it. Owns the GtkWindow (one reference, dropped when
// GTK destroys the window) and the GLFW views (through the shared handles).
class GtkMainWindowShell final : public GlfwViewHost {
public:
    // `statusLogPath`: when not empty, every status text is also appended to that file, one line
    // each (a hook for the end-to-end tests, which cannot read a label's text).
    explicit GtkMainWindowShell(std::string statusLogPath);

    // Creates the window and its seven controls, stores their handles in the hwnd* globals.
    void create();
    // Shows the window and waits until its X windows exist on the server (the GL views are
    // reparented into them next).
    void show();
    // True from create() until the window's destroy signal.
    bool alive() const { return window_ != nullptr; }
    GtkWidget* window() const { return window_; }

    std::wstring browseSavePath() override;
    void setStatusText(const std::wstring& text) override;
    void invalidateLevelMeter() override;
    void destroyMainWindow() override;
    void postQuit() override;

private:
    static gboolean onDeleteEvent(GtkWidget*, GdkEvent*, gpointer self);
    static void onDestroySignal(GtkWidget*, gpointer self);
    static void onButtonClicked(GtkButton* button, gpointer self);

    std::string statusLogPath_;
    GtkWidget* window_ = nullptr;
    GtkWidget* status_ = nullptr;
    GtkWidget* meter_ = nullptr;
};

// cairo painting of the level meter (a GtkDrawingArea's "draw" handler).
gboolean paintLevelMeter(GtkWidget* meter, cairo_t* cr, gpointer);
// The meter geometry alone, so it can be painted onto any cairo surface.
void paintLevelMeterRect(cairo_t* cr, int width, int height, float level);

// PlatformMessaging for GTK: posted messages go through one FIFO queue drained on the GTK
// thread; error boxes are shown on the GTK thread; debug lines go to syslog.
class GtkMessaging final : public PlatformMessaging {
public:
    // Construct on the GTK thread: that thread is the one error boxes are shown on.
    explicit GtkMessaging(GtkMainWindowShell& shell);
    ~GtkMessaging() override;

    // Any thread; never waits for the GTK thread. Delivered to onAppMessage in posting order;
    // dropped once the main window is gone.
    void postMessage(HWND hwnd, unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) override;
    // Any thread. On the GTK thread the dialog runs at once; another thread waits until the GTK
    // thread has shown it and the user dismissed it (a GTK main loop must be running then).
    void showErrorBox(const std::wstring& text) override;
    // Any thread: syslog(LOG_DEBUG), never the terminal.
    void debugLine(const char* line) override;

private:
    struct Posted {
        HWND hwnd;
        unsigned msg;
        std::uintptr_t wParam;
    };
    struct BoxRequest;
    static gboolean drain(gpointer self);
    static gboolean showNextBox(gpointer self);

    GtkMainWindowShell& shell_;
    std::thread::id guiThread_;
    std::mutex mutex_;
    std::deque<Posted> queue_;
    bool drainScheduled_ = false;
    // Error boxes asked for by other threads, handed over under mutex_ (not through the idle
    // source's pointer) so the hand-over is ordered by a lock of ours.
    std::deque<BoxRequest*> boxes_;
};

// Runs the error dialog for `text` on the calling (GTK) thread until dismissed.
void runErrorDialog(const std::wstring& text);
