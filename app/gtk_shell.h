// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The GTK shell's pieces, shared between its files. GTK thread only unless said otherwise.
#include <gtk/gtk.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/commands.h"
#include "app/level_meter.h"
#include "display/gl_views.h"
#include "app/messaging.h"

// The main window as the command logic sees it. Owns the GtkWindow (one reference, dropped when
// GTK destroys the window) and the GLFW views (through the shared handles).
class GtkMainWindowShell final : public GlfwViewHost {
public:
    // `statusLogPath`, `activityLogPath`: when not empty, every text the status line or the
    // activity line gets is also appended to that file, one line each, as the label then holds
    // it (a hook for the end-to-end tests, which cannot read a label's text from outside).
    explicit GtkMainWindowShell(std::string statusLogPath, std::string activityLogPath = "");

    // Creates the window, its seven controls, the activity line, Pause, Play and the input
    // chooser, stores their handles in the hwnd* globals.
    void create();
    // Shows the window and waits until its X windows exist on the server (the GL views are
    // reparented into them next).
    void show();
    // True from create() until the window's destroy signal.
    bool alive() const { return window_ != nullptr; }
    GtkWidget* window() const { return window_; }

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

private:
    static gboolean onDeleteEvent(GtkWidget*, GdkEvent*, gpointer self);
    static void onDestroySignal(GtkWidget*, gpointer self);
    static void onButtonClicked(GtkButton* button, gpointer self);
    static void onInputChanged(GtkComboBox* box, gpointer self);
    // Alt and a button's letter (app/keyboard.h) runs its command; GTK moves the focus with Tab
    // and presses the focused button with Space and Enter by itself.
    static gboolean onKeyPress(GtkWidget*, GdkEventKey* event, gpointer self);

    std::string statusLogPath_;
    std::string activityLogPath_;
    GtkWidget* window_ = nullptr;
    GtkWidget* status_ = nullptr;
    GtkWidget* activity_ = nullptr;
    GtkWidget* meter_ = nullptr;
    GtkWidget* input_ = nullptr;
    gulong inputChanged_ = 0;   // the "changed" handler, blocked while the list is refilled
    GtkWidget* pause_ = nullptr;
    LevelBarTracker meterBar_;   // the meter's painted bar edge
};

// cairo painting of the level meter (a GtkDrawingArea's "draw" handler); `bar` is the
// LevelBarTracker that learns the painted edge.
gboolean paintLevelMeter(GtkWidget* meter, cairo_t* cr, gpointer bar);
// The meter geometry alone, so it can be painted onto any cairo surface. Returns the bar's
// right edge.
int paintLevelMeterRect(cairo_t* cr, int width, int height, float level);

// For screen readers (gtk_accessibility.cpp). A new level meter widget: a drawing area whose
// accessible is a level bar named "Input level" with the meter's reading as its value.
GtkWidget* newLevelMeter();
// Gives a widget's accessible its role, and its name and description where not null.
void describeForScreenReaders(GtkWidget* widget, AtkRole role, const wchar_t* name,
                              const wchar_t* description);
// Tells a screen reader that the meter's reading changed.
void notifyLevelReading(GtkWidget* meter);
// Asks a screen reader to say `text` (where the ATK in use can), from `widget`'s accessible.
void announceFrom(GtkWidget* widget, const std::wstring& text);

// A worker's pending error box (gtk_messaging.cpp).
struct ErrorBoxRequest;

// PlatformMessaging for GTK: posted messages go through one FIFO queue drained on the GTK
// thread; error boxes are shown on the GTK thread; debug lines go to GLib's logging.
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
    // Any thread: glibDebugLine.
    void debugLine(const char* line) override;
    bool debugEnabled() override;

private:
    struct Posted {
        HWND hwnd;
        unsigned msg;
        std::uintptr_t wParam;
    };
    static gboolean drain(gpointer self);
    static gboolean openNextBox(gpointer self);

    GtkMainWindowShell& shell_;
    std::thread::id guiThread_;
    std::mutex mutex_;   // guards queue_ and drainScheduled_
    std::deque<Posted> queue_;
    bool drainScheduled_ = false;
    // Error boxes asked for by other threads, handed over under boxesMutex_ (not through the
    // idle source's pointer) so the hand-over is ordered by a lock of ours.
    std::mutex boxesMutex_;
    std::deque<ErrorBoxRequest*> boxes_;
};

// The Save As dialog's pieces. A new (floating) filter named `name` that lists the names
// matching any of `patterns` (null-terminated, e.g. "*.wav") in any letter case, as on Windows.
GtkFileFilter* newFileFilter(const char* name, const char* const* patterns);
constexpr const char* AUDIO_FILE_PATTERNS[] = {"*.wav", "*.mp3", nullptr};
// Why the dialog must refuse the chosen on-disk name (not UTF-8, or no such folder), or null.
const char* savePathRefusal(const char* name);

// GLib structured logging at debug level in the "sonabel" domain: enabled only when
// G_MESSAGES_DEBUG names the domain (or is "all"). glibDebugLine never waits for the log's
// destination (a writer thread of its own writes the line; it is dropped when
// GLIB_DEBUG_QUEUED_LINES lines wait). Any thread.
constexpr std::size_t GLIB_DEBUG_QUEUED_LINES = 256;
bool glibDebugEnabled();
void glibDebugLine(const char* line);

// Runs the error dialog for `text` on the calling (GTK) thread until dismissed.
void runErrorDialog(const std::wstring& text);
