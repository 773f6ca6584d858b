// SPDX-License-Identifier: GPL-3.0-or-later
// X11 hosting of the GL views: the GLFW window is reparented into the container widget's own
// X window. GLFW talks to the server over its own connection; XIDs are server-side, so the
// reparent works across the two connections once both sides have flushed their requests.
#include "display/gl_views.h"

#define GLFW_EXPOSE_NATIVE_X11
#include <GLFW/glfw3.h>
#include <GLFW/glfw3native.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <vector>

#include "display/frame_builder.h"
#include "display/render_thread.h"

namespace {

// The views' X windows, and those of them entirely covered; GTK thread only.
std::vector<Window> viewWindows;
std::vector<Window> obscuredViews;

// Why nothing of the views can be seen, if so: the main window is minimised, or every view is
// entirely covered (X reports a window's visibility; under a compositing manager, which draws
// every window off screen, a window always counts as unobscured). GTK thread only.
bool mainWindowIconified = false;

void updateViewHidden() {
    setViewHidden(mainWindowIconified ||
                  (!viewWindows.empty() && obscuredViews.size() == viewWindows.size()));
}

void forget(std::vector<Window>& windows, Window window) {
    windows.erase(std::remove(windows.begin(), windows.end(), window), windows.end());
}

gboolean trackIconified(GtkWidget*, GdkEventWindowState* event, gpointer) {
    mainWindowIconified = (event->new_window_state & GDK_WINDOW_STATE_ICONIFIED) != 0;
    updateViewHidden();
    return FALSE;
}

// Nothing reads GLFW's own X connection (its events are never polled), so the views' Expose
// events are also selected on GTK's connection and caught here, on the GTK thread: a view that a
// dialog uncovered gets its picture back from the render thread's next pass.
GdkFilterReturn repaintExposedView(GdkXEvent* xevent, GdkEvent*, gpointer) {
    const XEvent* event = static_cast<const XEvent*>(xevent);
    const Window window = event->xany.window;
    if (std::find(viewWindows.begin(), viewWindows.end(), window) == viewWindows.end())
        return GDK_FILTER_CONTINUE;
    if (event->type == Expose) {
        requestViewRepaint();
    } else if (event->type == VisibilityNotify) {
        forget(obscuredViews, window);
        if (event->xvisibility.state == VisibilityFullyObscured) obscuredViews.push_back(window);
        updateViewHidden();
    } else if (event->type == DestroyNotify) {
        forget(viewWindows, window);
        forget(obscuredViews, window);
        updateViewHidden();   // views made later start out drawn
    }
    return GDK_FILTER_CONTINUE;
}

}  // namespace

void placeViewInContainer(GLFWwindow* view, HWND container) {
    // The container is a widget with a GdkWindow of its own (see the main window); make sure it
    // is a real X window and that the server knows it before GLFW's connection refers to it.
    GtkWidget* widget = reinterpret_cast<GtkWidget*>(container);
    GdkWindow* gdkWindow = gtk_widget_get_window(widget);
    gdk_window_ensure_native(gdkWindow);
    gdk_display_sync(gtk_widget_get_display(widget));
    const Window parent = gdk_x11_window_get_xid(gdkWindow);
    // GTK lays out in logical pixels; X (and GL) work in device pixels, `scale` of them per
    // logical one on a scaled desktop (GDK_SCALE).
    GtkAllocation area;
    gtk_widget_get_allocation(widget, &area);
    const int scale = gtk_widget_get_scale_factor(widget);
    setGLViewScale(scale);

    Display* display = glfwGetX11Display();
    const Window child = glfwGetX11Window(view);
    // Exposed parts are cleared to black by the server, so a view never shows leftovers of a
    // dialog that covered it, even before the render thread's repaint.
    XSetWindowBackground(display, child, BlackPixel(display, DefaultScreen(display)));
    // The view is still unmapped, so no window manager has seen it: it is mapped only as a child
    // of the container, where the window manager's redirection of top-level maps does not apply.
    XReparentWindow(display, child, parent, 0, 0);
    XResizeWindow(display, child, static_cast<unsigned>(area.width * scale),
                  static_cast<unsigned>(area.height * scale));
    XMapRaised(display, child);
    XSync(display, False);

    // X lets several clients select Expose on one window. Frames stop while nothing of the
    // views can be seen (see above).
    static bool filterAdded = false;
    if (!filterAdded) gdk_window_add_filter(nullptr, repaintExposedView, nullptr);
    filterAdded = true;
    if (viewWindows.empty())
        g_signal_connect(gtk_widget_get_toplevel(widget), "window-state-event",
                         G_CALLBACK(trackIconified), nullptr);
    viewWindows.push_back(child);
    XSelectInput(gdk_x11_display_get_xdisplay(gtk_widget_get_display(widget)), child,
                 ExposureMask | StructureNotifyMask | VisibilityChangeMask);
    gdk_display_flush(gtk_widget_get_display(widget));
}
