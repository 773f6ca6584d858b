// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Hosting of the GL views inside the main window. The GLFW side is shared (gl_views.cpp); only
// placing the view into its container differs per platform (gl_views_win32.cpp: SetParent;
// gl_views_x11.cpp: XReparentWindow), chosen by the build.
#include "app/app_types.h"
#include "app/commands.h"

// Creates a frameless GLFW window of width x height with its own context, makes it a child of
// `container` at (0, 0) sized to the container (1160 x 80), shows it and leaves its context
// current on the calling thread. Null when GLFW cannot create the window (nothing else done).
// GUI thread, after glfwInit and after the container exists on screen.
GLFWwindow* createGLFWChild(HWND container, int width, int height);

// The platform step of createGLFWChild: make the hidden `view` a child of `container` at (0, 0),
// sized to the container's client area, raised and shown. Results of the platform calls are not examined.
void placeViewInContainer(GLFWwindow* view, HWND container);

// The GL half of a main window shell, the same on every platform: GLFW start-up and shutdown,
// the views, the render thread. GUI thread.
class GlfwViewHost : public MainWindowShell {
public:
    void initGLFW() override;
    GLFWwindow* createGLView(HWND container, int width, int height) override;
    void releaseCurrentGLContext() override;
    void startRenderThread() override;
    void destroyGLViewsAndTerminate() override;
};
