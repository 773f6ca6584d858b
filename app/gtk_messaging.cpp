// Messaging for the GTK shell. Posted messages: one FIFO queue, drained by one idle source on
// the GTK thread, so they arrive in posting order and the sender never waits. Error boxes: a
// modal dialog on the GTK thread; other threads wait for its dismissal. Debug lines: syslog.
#include <syslog.h>

#include <condition_variable>
#include <mutex>

#include "app/app_state.h"
#include "app/gtk_shell.h"
#include "app/ws2s.h"

// One error box requested from a worker thread; lives on that thread's stack until `done`.
struct GtkMessaging::BoxRequest {
    std::wstring text;
    std::mutex mutex;
    std::condition_variable dismissed;
    bool done = false;
};

// GTK thread: shows the oldest requested box, then wakes the thread that asked for it.
gboolean GtkMessaging::showNextBox(gpointer self) {
    auto* m = static_cast<GtkMessaging*>(self);
    BoxRequest* request = nullptr;
    {
        std::lock_guard<std::mutex> lock(m->mutex_);
        request = m->boxes_.front();
        m->boxes_.pop_front();
    }
    runErrorDialog(request->text);
    // Notified under the lock: the asking thread cannot return (and so destroy the request on
    // its stack) until this thread is done with it.
    std::lock_guard<std::mutex> lock(request->mutex);
    request->done = true;
    request->dismissed.notify_one();
    return G_SOURCE_REMOVE;
}

void runErrorDialog(const std::wstring& text) {
    std::string utf8;
    try {
        utf8 = ws2s(text);
    } catch (const std::exception&) {
        utf8 = "An error occurred.";
    }
    GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR,
                                               GTK_BUTTONS_OK, "%s", utf8.c_str());
    gtk_window_set_title(GTK_WINDOW(dialog), "Error");
    gtk_dialog_run(GTK_DIALOG(dialog));   // nested loop: posted messages keep being delivered
    gtk_widget_destroy(dialog);
}

GtkMessaging::GtkMessaging(GtkMainWindowShell& shell)
    : shell_(shell), guiThread_(std::this_thread::get_id()) {
    openlog("sonabel", LOG_PID, LOG_USER);
}

GtkMessaging::~GtkMessaging() { closelog(); }

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
    BoxRequest request;
    request.text = text;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        boxes_.push_back(&request);
    }
    // One idle call per request: each call shows exactly one box, oldest first.
    g_idle_add_full(G_PRIORITY_DEFAULT, showNextBox, this, nullptr);
    std::unique_lock<std::mutex> lock(request.mutex);
    request.dismissed.wait(lock, [&] { return request.done; });
}

void GtkMessaging::debugLine(const char* line) { syslog(LOG_DEBUG, "%s", line); }
