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

// The views' X windows; GTK thread only.
std::vector<Window> viewWindows;

// Why nothing of the drawn view can be seen, if so: the main window is minimised, or the view
// is entirely covered (X reports a window's visibility; under a compositing manager, which
// draws every window off screen, a window always counts as unobscured). GTK thread only.
bool mainWindowIconified = false;
bool viewFullyObscured = false;

void updateViewHidden() { setViewHidden(mainWindowIconified || viewFullyObscured); }

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
    if (event->type == Expose) {
        const Window window = event->xexpose.window;
        if (std::find(viewWindows.begin(), viewWindows.end(), window) != viewWindows.end())
            requestViewRepaint();
    } else if (event->type == VisibilityNotify && !viewWindows.empty() &&
               event->xvisibility.window == viewWindows.front()) {   // the drawn one
        viewFullyObscured = event->xvisibility.state == VisibilityFullyObscured;
        updateViewHidden();
    } else if (event->type == DestroyNotify) {
        const Window window = event->xdestroywindow.window;
        const auto gone = std::find(viewWindows.begin(), viewWindows.end(), window);
        if (gone == viewWindows.begin() && viewFullyObscured) {
            viewFullyObscured = false;   // views made later start out drawn
            updateViewHidden();
        }
        if (gone != viewWindows.end()) viewWindows.erase(gone);
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
    // Exposed parts are cleared to black by the server, so a view nobody draws into (the
    // spectrum view) never shows leftovers of a dialog that covered it.
    XSetWindowBackground(display, child, BlackPixel(display, DefaultScreen(display)));
    // The view is still unmapped, so no window manager has seen it: it is mapped only as a child
    // of the container, where the window manager's redirection of top-level maps does not apply.
    XReparentWindow(display, child, parent, 0, 0);
    XResizeWindow(display, child, static_cast<unsigned>(area.width * scale),
                  static_cast<unsigned>(area.height * scale));
    XMapRaised(display, child);
    XSync(display, False);

    // X lets several clients select Expose on one window. The first view is the drawn one:
    // frames stop while nothing of it can be seen (see above).
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
