// SPDX-License-Identifier: GPL-3.0-or-later
// The Linux debug output: GLib structured logging in the "sonabel" domain, switched by
// G_MESSAGES_DEBUG, written by a thread of its own so the capture thread never waits for it.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "analysis/fft_analysis.h"
#include "app/gtk_shell.h"
#include "app/messaging.h"

namespace {

// GLib's log writer for the whole test process (GLib takes one per process). Lines of the
// "sonabel" domain are kept, and wait while the gate is shut; all others go to GLib's default.
struct LogTap {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> lines;
    bool allDebugPriority = true;   // every kept line at debug level, journal priority 7
    bool gateOpen = true;
    bool held = false;   // a line waits at the shut gate

    // Waits for `done` (under the lock); false after a minute, so a hang fails instead.
    template <class Done>
    bool waitFor(std::unique_lock<std::mutex>& lock, Done done) {
        return changed.wait_for(lock, std::chrono::minutes(1), done);
    }
};
LogTap tap;

std::string fieldText(const GLogField& f) {
    const char* text = static_cast<const char*>(f.value);
    return f.length < 0 ? std::string(text) : std::string(text, static_cast<std::size_t>(f.length));
}

GLogWriterOutput tapWriter(GLogLevelFlags level, const GLogField* fields, gsize count, gpointer) {
    std::string domain, message, priority;
    for (gsize i = 0; i < count; ++i) {
        if (std::strcmp(fields[i].key, "GLIB_DOMAIN") == 0) domain = fieldText(fields[i]);
        if (std::strcmp(fields[i].key, "MESSAGE") == 0) message = fieldText(fields[i]);
        if (std::strcmp(fields[i].key, "PRIORITY") == 0) priority = fieldText(fields[i]);
    }
    if (domain != "sonabel") return g_log_writer_default(level, fields, count, nullptr);
    std::unique_lock<std::mutex> lock(tap.mutex);
    tap.lines.push_back(message);
    tap.allDebugPriority = tap.allDebugPriority &&
                           (level & G_LOG_LEVEL_MASK) == G_LOG_LEVEL_DEBUG && priority == "7";
    tap.held = !tap.gateOpen;
    tap.changed.notify_all();
    tap.changed.wait(lock, [] { return tap.gateOpen; });
    tap.held = false;
    return G_LOG_WRITER_HANDLED;
}

// The GTK messaging, counting the lines the core formats for it.
class CountingMessaging final : public PlatformMessaging {
public:
    explicit CountingMessaging(GtkMessaging& gtk) : gtk_(gtk) {}
    void postMessage(HWND h, unsigned m, std::uintptr_t w, std::intptr_t l) override {
        gtk_.postMessage(h, m, w, l);
    }
    void showErrorBox(const std::wstring& text) override { gtk_.showErrorBox(text); }
    void debugLine(const char* line) override {
        ++formatted;
        gtk_.debugLine(line);
    }
    bool debugEnabled() override { return gtk_.debugEnabled(); }
    int formatted = 0;

private:
    GtkMessaging& gtk_;
};

// One analysis of a 1 kHz tone, which emits two debug lines when they are enabled.
int linesOfOneAnalysis(CountingMessaging& messaging) {
    std::vector<float> tone(8192);
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = std::sin(6.2831853f * 1000.0f * static_cast<float>(i) / 48000.0f);
    const int before = messaging.formatted;
    processFFT(tone.data(), tone.size(), 48000);
    return messaging.formatted - before;
}

// What G_MESSAGES_DEBUG says (null: unset). GLib 2.80 and later read the variable once and keep
// what it said; they have a call to change it since.
void setDebugDomains(const char* value) {
    if (value) setenv("G_MESSAGES_DEBUG", value, 1);
    else unsetenv("G_MESSAGES_DEBUG");
#if GLIB_CHECK_VERSION(2, 80, 0)
    gchar** domains = value ? g_strsplit(value, " ", -1) : nullptr;
    g_log_writer_default_set_debug_domains(domains);
    g_strfreev(domains);
#endif
}

}  // namespace

TEST(GtkDebugLog, OffFormatsNothingOnReachesGlibAndAFullQueueDropsLinesWithoutWaiting) {
    static const bool tapped = [] {
        g_log_set_writer_func(tapWriter, nullptr, nullptr);
        return true;
    }();
    ASSERT_TRUE(tapped);
    const char* const was = std::getenv("G_MESSAGES_DEBUG");
    const bool hadValue = was != nullptr;
    const std::string previous = hadValue ? was : "";
    GtkMainWindowShell shell("");
    GtkMessaging gtk(shell);
    CountingMessaging messaging(gtk);
    installPlatformMessaging(&messaging);

    // Off (unset, or naming other domains only): the core formats nothing, and a line that still
    // comes is dropped before the queue.
    for (const char* value : {static_cast<const char*>(nullptr), "Gtk GLib-GIO"}) {
        setDebugDomains(value);
        EXPECT_FALSE(glibDebugEnabled()) << (value ? value : "unset");
        EXPECT_EQ(linesOfOneAnalysis(messaging), 0) << (value ? value : "unset");
        glibDebugLine("dropped while off\n");
    }
    setDebugDomains("all");
    EXPECT_TRUE(glibDebugEnabled());

    // On: the lines reach GLib in order, in the "sonabel" domain at debug level, without the
    // newline (GLib ends each line itself).
    setDebugDomains("Gtk sonabel");
    ASSERT_TRUE(glibDebugEnabled());
    EXPECT_EQ(linesOfOneAnalysis(messaging), 2);
    {
        std::unique_lock<std::mutex> lock(tap.mutex);
        ASSERT_TRUE(tap.waitFor(lock, [] { return tap.lines.size() >= 2; }));
        EXPECT_EQ(tap.lines.size(), 2u);
        EXPECT_EQ(tap.lines[0], "[FFT] processFFT called");
        EXPECT_EQ(tap.lines[1].rfind("[FFT] MaxBin: ", 0), 0u) << tap.lines[1];
        EXPECT_TRUE(tap.allDebugPriority);
        tap.lines.clear();
        tap.gateOpen = false;
    }

    // The log's destination stalls (the gate) with one line taken: a producer standing in for
    // the capture thread emits more lines than the queue holds and returns with the gate still
    // shut; the lines that did not fit are dropped.
    glibDebugLine("taken\n");
    {
        std::unique_lock<std::mutex> lock(tap.mutex);
        ASSERT_TRUE(tap.waitFor(lock, [] { return tap.held; }));
    }
    bool producerReturned = false;
    std::thread producer([&] {
        for (std::size_t i = 0; i < GLIB_DEBUG_QUEUED_LINES + 50; ++i)
            glibDebugLine(("line " + std::to_string(i) + "\n").c_str());
        std::lock_guard<std::mutex> lock(tap.mutex);
        producerReturned = true;
        tap.changed.notify_all();
    });
    {
        std::unique_lock<std::mutex> lock(tap.mutex);
        EXPECT_TRUE(tap.waitFor(lock, [&] { return producerReturned; }))
            << "the producer waited for the stalled log";
        EXPECT_TRUE(tap.held);
        tap.gateOpen = true;
        tap.changed.notify_all();
    }
    producer.join();
    {
        // Once as many lines as the queue holds have come, it is empty (a line leaves the queue
        // before it is written), so one more line is taken, and it comes after any not dropped.
        std::unique_lock<std::mutex> lock(tap.mutex);
        ASSERT_TRUE(
            tap.waitFor(lock, [] { return tap.lines.size() >= 1 + GLIB_DEBUG_QUEUED_LINES; }));
    }
    glibDebugLine("after\n");
    {
        std::unique_lock<std::mutex> lock(tap.mutex);
        ASSERT_TRUE(
            tap.waitFor(lock, [] { return !tap.lines.empty() && tap.lines.back() == "after"; }));
        ASSERT_EQ(tap.lines.size(), 1 + GLIB_DEBUG_QUEUED_LINES + 1);
        EXPECT_EQ(tap.lines.front(), "taken");
        for (std::size_t i = 0; i < GLIB_DEBUG_QUEUED_LINES; ++i)
            EXPECT_EQ(tap.lines[1 + i], "line " + std::to_string(i));
        tap.lines.clear();
    }

    installPlatformMessaging(nullptr);
    setDebugDomains(hadValue ? previous.c_str() : nullptr);
}
