// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/gl_views.h"

#include <GL/glew.h>   // before any other GL header
#include <GLFW/glfw3.h>

#include "app/app_state.h"
#include "display/frame_builder.h"
#include "display/render_thread.h"

GLFWwindow* createGLFWChild(HWND container, int width, int height) {
    glfwWindowHint(GLFW_DECORATED, 0);
    glfwWindowHint(GLFW_RESIZABLE, 0);
    glfwWindowHint(GLFW_FLOATING, 1);
    // Created hidden and shown only once it is inside its container: a window mapped as a
    // top-level one is taken over by the window manager (X11: reparented into a frame of its
    // own, racing our reparent), and the view ends up unviewable.
    glfwWindowHint(GLFW_VISIBLE, 0);
    GLFWwindow* view = glfwCreateWindow(width, height, "", nullptr, nullptr);
    if (view == nullptr) return nullptr;

    placeViewInContainer(view, container);
    // Where the platform delivers the view's paint requests to GLFW (Win32: WM_PAINT through the
    // GUI thread's message loop), a damaged view is redrawn by the render thread's next pass.
    glfwSetWindowRefreshCallback(view, [](GLFWwindow*) { requestViewRepaint(); });

    glfwMakeContextCurrent(view);
    glewInit();   // result ignored: only OpenGL 1.1 entry points are drawn with
    return view;
}

void GlfwViewHost::initGLFW() { glfwInit(); }

GLFWwindow* GlfwViewHost::createGLView(HWND container, int width, int height) {
    return createGLFWChild(container, width, height);
}

void GlfwViewHost::releaseCurrentGLContext() { glfwMakeContextCurrent(nullptr); }

void GlfwViewHost::startRenderThread() { startGLRenderThread(); }

void GlfwViewHost::destroyGLViewsAndTerminate() {
    if (glfwWaveformWin != nullptr) glfwDestroyWindow(glfwWaveformWin);
    if (glfwSpectrumWin != nullptr) glfwDestroyWindow(glfwSpectrumWin);
    glfwTerminate();
}
