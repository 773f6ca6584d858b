// SPDX-License-Identifier: GPL-3.0-or-later
// Win32 hosting of the GL views: the frameless GLFW window becomes a child of its STATIC
// container and fills the container's client area. GUI thread.
#include "display/gl_views.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#define GLFW_EXPOSE_NATIVE_WIN32
#include <GLFW/glfw3.h>
#include <GLFW/glfw3native.h>

void placeViewInContainer(GLFWwindow* view, HWND container) {
    HWND hwndView = glfwGetWin32Window(view);
    SetParent(hwndView, container);
    SetWindowLongW(hwndView, GWL_STYLE, WS_CHILD | WS_VISIBLE);   // no caption, frame or pop-up
    RECT rc;
    GetClientRect(container, &rc);
    SetWindowPos(hwndView, HWND_TOP, 0, 0, rc.right, rc.bottom, SWP_SHOWWINDOW);
}
