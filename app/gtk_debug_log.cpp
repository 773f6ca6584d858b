// SPDX-License-Identifier: GPL-3.0-or-later
// Debug lines of the Linux build, the GLib way: structured logging at debug level in the
// "sonabel" domain, which GLib's default writer shows (on stdout, or in the journal when the
// output is connected to it) only when G_MESSAGES_DEBUG names the domain or is "all". Never
// syslog.
#include <glib.h>

#include <cstddef>
#include <cstring>

#include "app/gtk_shell.h"

namespace {

constexpr char LOG_DOMAIN[] = "sonabel";
constexpr std::size_t LINE_BYTES = 160;   // longer lines are cut

// Lines wait in a GLib queue for a writer thread of their own, so the thread that emits one (the
// capture thread, holding a packet and fftInputMutex) never waits for a slow stdout or journal.
gpointer writeLines(gpointer queue) {
    for (;;) {
        char* line = static_cast<char*>(g_async_queue_pop(static_cast<GAsyncQueue*>(queue)));
        const GLogField fields[] = {
            {"GLIB_DOMAIN", LOG_DOMAIN, -1},
            {"PRIORITY", "7", -1},   // debug
            {"MESSAGE", line, -1},
        };
        g_log_structured_array(G_LOG_LEVEL_DEBUG, fields, G_N_ELEMENTS(fields));
        g_free(line);
    }
    return nullptr;
}

// Made on first use, with its writer; the writer never returns, so both last until the process
// ends. Null when no thread could be started: lines are then dropped.
GAsyncQueue* lineQueue() {
    static GAsyncQueue* const queue = [] {
        GAsyncQueue* made = g_async_queue_new();
        GThread* writer = g_thread_try_new("sonabel-log", writeLines, made, nullptr);
        if (writer == nullptr) {
            g_async_queue_unref(made);
            return static_cast<GAsyncQueue*>(nullptr);
        }
        g_thread_unref(writer);   // runs detached
        return made;
    }();
    return queue;
}

}  // namespace

bool glibDebugEnabled() { return !g_log_writer_default_would_drop(G_LOG_LEVEL_DEBUG, LOG_DOMAIN); }

void glibDebugLine(const char* line) {
    if (!glibDebugEnabled()) return;
    GAsyncQueue* const queue = lineQueue();
    if (queue == nullptr) return;
    std::size_t length = strnlen(line, LINE_BYTES);
    if (length > 0 && line[length - 1] == '\n') --length;   // GLib ends it
    char* copy = g_strndup(line, length);
    // When the writer falls that far behind, new lines are dropped instead of waited for. The
    // queue's lock is held only for the count and the push.
    g_async_queue_lock(queue);
    const bool room = g_async_queue_length_unlocked(queue) < static_cast<gint>(GLIB_DEBUG_QUEUED_LINES);
    if (room) g_async_queue_push_unlocked(queue, copy);
    g_async_queue_unlock(queue);
    if (!room) g_free(copy);
}
