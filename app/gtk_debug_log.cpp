// Debug lines of the Linux build, the GLib way: structured logging at debug level in the
// "sonabel" domain, which GLib's default writer shows (on stdout, or in the journal when the
// output is connected to it) only when G_MESSAGES_DEBUG names the domain or is "all". Never
// syslog.
#include <glib.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "app/gtk_shell.h"

namespace {

constexpr char LOG_DOMAIN[] = "sonabel";
constexpr std::size_t LINE_BYTES = 160;   // longer lines are cut

// Lines wait here for a writer thread of their own, so the thread that emits one (the capture
// thread, holding a packet and fftInputMutex) never waits for a slow stderr or journal. When
// the writer falls that far behind, new lines are dropped instead of waited for.
class DebugLineQueue {
public:
    DebugLineQueue() {
        try {
            std::thread([this] { writeLines(); }).detach();
            running_ = true;
        } catch (const std::system_error&) {
            running_ = false;   // no thread to spare: lines are dropped
        }
    }

    // Any thread; holds the queue's lock for one copy of at most LINE_BYTES.
    void push(const char* line) {
        if (!running_) return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (count_ == GLIB_DEBUG_QUEUED_LINES) return;
            Line& slot = lines_[(first_ + count_) % GLIB_DEBUG_QUEUED_LINES];
            slot.length = strnlen(line, LINE_BYTES);
            if (slot.length > 0 && line[slot.length - 1] == '\n') --slot.length;   // GLib ends it
            std::memcpy(slot.text, line, slot.length);
            ++count_;
        }
        queued_.notify_one();
    }

private:
    struct Line {
        char text[LINE_BYTES];
        std::size_t length;
    };

    void writeLines() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            queued_.wait(lock, [this] { return count_ > 0; });
            const Line line = lines_[first_];
            first_ = (first_ + 1) % GLIB_DEBUG_QUEUED_LINES;
            --count_;
            lock.unlock();
            const GLogField fields[] = {
                {"GLIB_DOMAIN", LOG_DOMAIN, -1},
                {"PRIORITY", "7", -1},   // debug
                {"MESSAGE", line.text, static_cast<gssize>(line.length)},
            };
            g_log_structured_array(G_LOG_LEVEL_DEBUG, fields, G_N_ELEMENTS(fields));
            lock.lock();
        }
    }

    bool running_;
    std::mutex mutex_;
    std::condition_variable queued_;
    Line lines_[GLIB_DEBUG_QUEUED_LINES];
    std::size_t first_ = 0;
    std::size_t count_ = 0;
};

}  // namespace

bool glibDebugEnabled() { return !g_log_writer_default_would_drop(G_LOG_LEVEL_DEBUG, LOG_DOMAIN); }

void glibDebugLine(const char* line) {
    if (!glibDebugEnabled()) return;
    // Made on first use and never destroyed: its detached writer thread runs until the process
    // ends, so the queue must outlive every static destructor.
    static DebugLineQueue* const queue = new DebugLineQueue;
    queue->push(line);
}
