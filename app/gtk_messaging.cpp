// SPDX-License-Identifier: GPL-3.0-or-later
// Messaging for the GTK shell. Posted messages: one FIFO queue, drained by one idle source on
// the GTK thread, so they arrive in posting order and the sender never waits. Error boxes: a
// non-modal dialog on the GTK thread; other threads wait for its dismissal. Debug lines: GLib's
// structured logging (gtk_debug_log.cpp).
#include <condition_variable>
#include <exception>
#include <mutex>

#include "app/app_state.h"
#include "app/gtk_shell.h"
#include "app/ws2s.h"

// One error box until it is dismissed. The request lives on the asking thread's stack until
// `done`, whichever thread asked: the GTK thread iterates its main context until then, a worker
// waits on `dismissed`.
struct ErrorBoxRequest {
    std::wstring text;
    std::mutex mutex;
    std::condition_variable dismissed;
    bool done = false;

    bool isDone() {
        std::lock_guard<std::mutex> lock(mutex);
        return done;
    }
};

namespace {

void closeOnResponse(GtkDialog* dialog, gint, gpointer) { gtk_widget_destroy(GTK_WIDGET(dialog)); }

// "destroy" comes exactly once, whether the box went by OK, Escape or the window manager.
void wakeAsker(GtkWidget*, gpointer data) {
    auto* request = static_cast<ErrorBoxRequest*>(data);
    // Notified under the lock: the asker cannot see `done`, return and destroy the request
    // before this thread is finished with it.
    std::lock_guard<std::mutex> lock(request->mutex);
    request->done = true;
    request->dismissed.notify_one();
}

// GTK thread: puts the box on screen and returns at once.
void openErrorDialog(ErrorBoxRequest& request) {
    std::string utf8;
    try {
        utf8 = ws2s(request.text);
    } catch (const std::exception&) {
        utf8 = "An error occurred.";
    }
    // No parent and no modal flag, hence no grab: clicks still reach the main window (as beside
    // an ownerless MessageBoxW), and two boxes from two workers come and go independently.
    GtkWidget* dialog = gtk_message_dialog_new(nullptr, static_cast<GtkDialogFlags>(0),
                                               GTK_MESSAGE_ERROR, GTK_BUTTONS_OK, "%s", utf8.c_str());
    gtk_window_set_title(GTK_WINDOW(dialog), "Error");
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);   // where Windows puts it
    g_signal_connect(dialog, "response", G_CALLBACK(closeOnResponse), nullptr);
    g_signal_connect(dialog, "destroy", G_CALLBACK(wakeAsker), &request);
    gtk_widget_show_all(dialog);
}

}  // namespace

void runErrorDialog(const std::wstring& text) {
    ErrorBoxRequest request;
    request.text = text;
    openErrorDialog(request);
    // The default context, iterated here rather than by gtk_main: posted messages and clicks keep
    // being delivered, and the main window's quit does not end the box.
    while (!request.isDone()) g_main_context_iteration(nullptr, TRUE);
}

GtkMessaging::GtkMessaging(GtkMainWindowShell& shell)
    : shell_(shell), guiThread_(std::this_thread::get_id()) {}

GtkMessaging::~GtkMessaging() = default;

// GTK thread: opens the box of the oldest request handed over by another thread. The hand-over
// goes through boxesMutex_ (a lock of ours) rather than the idle source's pointer, so it is
// ordered for the thread sanitizer too.
gboolean GtkMessaging::openNextBox(gpointer self) {
    auto* m = static_cast<GtkMessaging*>(self);
    ErrorBoxRequest* request = nullptr;
    {
        std::lock_guard<std::mutex> lock(m->boxesMutex_);
        request = m->boxes_.front();
        m->boxes_.pop_front();
    }
    openErrorDialog(*request);
    return G_SOURCE_REMOVE;
}

void GtkMessaging::postMessage(HWND hwnd, unsigned msg, std::uintptr_t wParam, std::intptr_t) {
    bool schedule = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back({hwnd, msg, wParam});
        schedule = !drainScheduled_;
        drainScheduled_ = true;
    }
    // g_idle_add is thread-safe and wakes the default main context.
    if (schedule) g_idle_add_full(G_PRIORITY_DEFAULT, drain, this, nullptr);
}

gboolean GtkMessaging::drain(gpointer self) {
    auto* m = static_cast<GtkMessaging*>(self);
    for (;;) {
        Posted next;
        {
            std::lock_guard<std::mutex> lock(m->mutex_);
            if (m->queue_.empty()) {
                m->drainScheduled_ = false;
                return G_SOURCE_REMOVE;
            }
            next = m->queue_.front();
            m->queue_.pop_front();
        }
        // Like PostMessageW to a destroyed window: a message for a window that is gone is
        // dropped (a done message can race with the close that follows it).
        if (m->shell_.alive() && next.hwnd == hwndMain) onAppMessage(m->shell_, next.msg, next.wParam);
    }
}

void GtkMessaging::showErrorBox(const std::wstring& text) {
    if (std::this_thread::get_id() == guiThread_) {
        runErrorDialog(text);
        return;
    }
    ErrorBoxRequest request;
    request.text = text;
    {
        std::lock_guard<std::mutex> lock(boxesMutex_);
        boxes_.push_back(&request);
    }
    // One idle call per request: each call opens exactly one box, oldest first.
    g_idle_add_full(G_PRIORITY_DEFAULT, openNextBox, this, nullptr);
    std::unique_lock<std::mutex> lock(request.mutex);
    request.dismissed.wait(lock, [&] { return request.done; });
}

void GtkMessaging::debugLine(const char* line) { glibDebugLine(line); }

bool GtkMessaging::debugEnabled() { return glibDebugEnabled(); }
