#pragma once
// Hosting of the GL views inside the main window. One implementation per platform
// (gl_views_win32.cpp: SetParent; gl_views_x11.cpp: XReparentWindow), chosen by the build.
#include "app/app_types.h"

// Creates a frameless GLFW window of width x height with its own context, makes it a child of
// `container` at (0, 0) sized to the container (1160 x 80), shows it and leaves its context
// current on the calling thread. Null when GLFW cannot create the window (nothing else done).
// GUI thread, after glfwInit and after the container exists on screen.
GLFWwindow* createGLFWChild(HWND container, int width, int height);
