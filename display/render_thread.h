// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The render thread: looks at the shared waveform and spectrum buffers and the spectrogram about
// every 16 ms and redraws each view from copies of them when they changed or it was exposed:
// the waveform view with the waveform and the red spectrum line, the spectrum view with the
// take's spectrogram, each view with its own context.
// Shared by the Win32 and X11 shells; only the hosting of the views (gl_views_*) differs per
// platform.
#include "app/app_types.h"

// Starts the render loop and move-assigns its thread into glRenderThread. GUI thread, once,
// after both views were created (their contexts must be current on no thread).
// The loop ends when glRunning is false, at once when glfwWaveformWin is null (its creation
// failed), or when the waveform view's close flag is set.
void startGLRenderThread();

// Draws one frame into `window` and presents it: black background, the waveform in green, the
// spectrum in red over it. Render thread only (it makes the view's context current on itself).
void renderWaveform(GLFWwindow* window);

// Draws one spectrogram frame into `window` from every column of the take, with a texture made
// for it and deleted again, and presents it. Render thread only, as renderWaveform.
void renderSpectrogram(GLFWwindow* window);

// Device pixels per layout pixel of the views: 1, or the desktop's scale (GDK_SCALE=2 gives 2),
// under which a view's 1160 x 80 are 2320 x 160 device pixels. Set by the platform's view
// hosting while it places the views, before the render thread starts; any thread.
void setGLViewScale(int scale);
