// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The render thread: looks at the shared waveform and spectrum buffers about every 16 ms and
// redraws the waveform view from copies of them when they changed or the view was exposed.
// Shared by the Win32 and X11 shells; only the hosting of the views (gl_views_*) differs per
// platform.
#include "app/app_types.h"

// Starts the render loop and move-assigns its thread into glRenderThread. GUI thread, once,
// after both views were created (the waveform view's context must be current on no thread).
// The loop ends when glRunning is false, at once when glfwWaveformWin is null (its creation
// failed), or when the waveform view's close flag is set.
void startGLRenderThread();

// Draws one frame into `window` and presents it: black background, the waveform in green, the
// spectrum in red over it. Render thread only (it makes the view's context current on itself).
void renderWaveform(GLFWwindow* window);

// Device pixels per layout pixel of the views: 1, or the desktop's scale (GDK_SCALE=2 gives 2),
// under which a view's 1160 x 80 are 2320 x 160 device pixels. Set by the platform's view
// hosting while it places the views, before the render thread starts; any thread.
void setGLViewScale(int scale);
