// SPDX-License-Identifier: GPL-3.0-or-later
// Linux entry: GTK 3 on its X11 backend (the GL views are X windows reparented into the main
// window), PulseAudio capture. Only wiring; the behaviour lives in app/commands.cpp.
#include <gtk/gtk.h>
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/app_state.h"
#include "app/gtk_shell.h"
#include "app/malloc_tuning.h"
#include "capture/capture_thread.h"
#include "capture/pulse_devices.h"
#include "capture/playback_thread.h"
#include "capture/pulse_playback.h"
#include "capture/pulse_source.h"
#include "export/mp3_export.h"

namespace {

// Exports still running when the window has gone must finish their files, and may still need
// to show an error box (which is shown on this thread): keep the main loop running and look
// every 50 ms. No waiter thread: its creation could fail, and the process must still exit 0.
gboolean quitWhenExportsDone(gpointer) {
    if (exportsRunning()) return G_SOURCE_CONTINUE;
    gtk_main_quit();
    return G_SOURCE_REMOVE;
}

void finishRunningExports() {
    if (!exportsRunning()) return;
    g_timeout_add(50, quitWhenExportsDone, nullptr);
    gtk_main();
}

// Process-wide settings for two libraries that read them once, so they are made here, before
// any other thread exists and before the GL driver is loaded.
void tuneLibrariesForALongRun() {
    // A GL driver (Mesa's software GL, llvmpipe, among them) may allocate and free, on the render
    // thread, a block a little over 128 KiB every frame, blocks of several hundred KiB (page
    // aligned) a few times a second and larger upload buffers now and then. glibc's mmap
    // threshold starts at 128 KiB and rises to the size of the first mapped block it frees, so
    // from then on the large blocks are carved, with their alignment padding, out of the render
    // thread's heap, where the small allocations made between them keep the freed space from
    // being returned: the resident size climbs in steps over an hours-long take. A fixed
    // threshold of 256 KiB maps and unmaps the large blocks (nothing of theirs left resident) and
    // keeps a per-frame block below it in the heap, reused in place; the trim threshold, which a
    // fixed mmap threshold would leave at 128 KiB (the per-frame block would then be returned and
    // faulted in again every frame), gets the 1 MiB glibc itself moves to. Malloc tunables the
    // user or the packager set are kept as they are.
    if (!mallocTunedByUser(std::getenv("GLIBC_TUNABLES"))) {
        mallopt(M_MMAP_THRESHOLD, 256 * 1024);
        mallopt(M_TRIM_THRESHOLD, 1024 * 1024);
    }
    // llvmpipe starts one rasteriser thread per core and wakes all of them for every frame; our
    // only drawn view is 1160 x 80 pixels, which the render thread rasterises itself for less
    // than the wake-ups and hand-overs cost (and, on a many-core machine, far less). Ignored by
    // hardware drivers; a value the user set is kept.
    setenv("LP_NUM_THREADS", "0", 0);
}

}  // namespace

int main() {
    tuneLibrariesForALongRun();
    // XWayland on Wayland desktops: the GL views need X windows to be reparented into.
    gdk_set_allowed_backends("x11");
    g_set_prgname("sonabel");
    g_set_application_name("Sonabel");
    if (!gtk_init_check(nullptr, nullptr)) {
        std::fprintf(stderr, "sonabel: cannot open the X display (is DISPLAY set?)\n");
        return 0;
    }

    // Test hook: the end-to-end tests read the status and activity texts from these files.
    const char* statusLog = std::getenv("SONABEL_STATUS_LOG");
    const char* activityLog = std::getenv("SONABEL_ACTIVITY_LOG");
    // Static: a capture thread that has just ended may still be inside postMessage while the
    // process exits; these must outlive main's scope.
    static GtkMainWindowShell shell(statusLog ? statusLog : "", activityLog ? activityLog : "");
    static GtkMessaging messaging(shell);
    installPlatformMessaging(&messaging);
    setCaptureSourceFactory(makePulseCaptureSource);
    setPlaybackOutputFactory(makePulsePlaybackOutput);

    shell.create();
    showInputList(shell);   // the default input until the watcher's first list arrives
    const HWND window = hwndMain;
    deviceWatcher = makePulseDeviceWatcher([window] { postAppMessage(window, WM_APP_DEVICES_CHANGED); });
    shell.show();
    startDisplay(shell);   // GLFW, the waveform view, the spectrum view, the render thread
    // The window may already be gone: closed while the start-up error box was up. The render
    // thread started after that saw glRunning false and ends by itself.
    if (shell.alive()) gtk_main();   // until the window is destroyed (onDestroy -> postQuit)
    if (glRenderThread.joinable()) glRenderThread.join();
    deviceWatcher.reset();

    waitForPlaybackThreads();   // ended by the close; each takes a poll to see it
    finishRunningExports();
    return 0;
}
