// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Opaque handle of a native window. On Windows it is exactly the Win32 HWND (the same
// declaration <windows.h> makes under STRICT), so Win32 files can pass handles straight through.
// Other shells cast their own widget pointers to it; portable code only stores and forwards it.
struct HWND__;
typedef HWND__* HWND;

// GLFW's window type, declared here so the shared state needs no GLFW header.
struct GLFWwindow;
