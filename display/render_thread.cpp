// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/render_thread.h"

#include <GL/glew.h>   // before any other GL header
#include <GLFW/glfw3.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "display/frame_builder.h"

namespace {

constexpr auto FRAME_PAUSE = std::chrono::milliseconds(16);

std::atomic<int> glViewScale{1};

// Per-frame working storage, kept between frames so a frame allocates nothing once the vectors
// have grown. One per render thread.
struct FrameScratch {
    FrameSnapshot frame;
    std::vector<Vertex2> vertices;
};

void drawLineStrip(const std::vector<Vertex2>& vertices, float r, float g, float b) {
    if (vertices.empty()) return;
    glColor3f(r, g, b);
    glBegin(GL_LINE_STRIP);
    for (const Vertex2& v : vertices) glVertex2f(v.x, v.y);
    glEnd();
}

// Draws the copied frame and presents it, also when only the background was drawn.
void drawFrame(GLFWwindow* window, FrameScratch& scratch) {
    glfwMakeContextCurrent(window);
    // On a scaled desktop the whole view, in device pixels, shows the picture a 1160 x 80 view
    // shows, traces as thick as the scale (as Windows stretches a DPI-unaware window).
    const int scale = glViewScale.load();
    glViewport(0, 0, GL_VIEW_FULL_WIDTH * scale, GL_VIEW_HEIGHT * scale);
    glLineWidth(static_cast<GLfloat>(scale));
    // The model-view matrix stays the identity it starts as; setting it again each frame is for
    // Mesa's software GL (llvmpipe), which uploads the vertex stage's constants (this matrix)
    // into the same 1 MiB stream buffer as the strips' colours and keeps that buffer alive for
    // as long as the constants stay bound: loaded once, the first buffer would stay resident
    // for the whole run after the colours (32 bytes a frame) have filled it and moved on, about
    // ten minutes in. Re-loaded, the 64 bytes follow the colours into the current buffer and
    // each filled one is freed. Same picture; a 64-byte upload a frame.
    glLoadIdentity();
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    buildFrameWaveformVertices(scratch.frame, scratch.vertices);
    drawLineStrip(scratch.vertices, 0.0f, 1.0f, 0.0f);
    buildSpectrumVertices(scratch.frame.bins, scratch.vertices);
    drawLineStrip(scratch.vertices, 1.0f, 0.0f, 0.0f);
    glfwSwapBuffers(window);
}

void renderLoop() {
    FrameScratch scratch;
    for (;;) {
        if (!glRunning.load()) return;
        // A failed waveform view must never reach GLFW: end the thread, recording goes on.
        GLFWwindow* const view = glfwWaveformWin;
        if (view == nullptr) return;
        if (glfwWindowShouldClose(view)) return;
        // Same pixels, fewer frames: when neither buffer changed and the window system did not
        // ask for a repaint, the frame on screen already is the one that would be drawn.
        if (frameNeedsDrawing(scratch.frame)) drawFrame(view, scratch);
        std::this_thread::sleep_for(FRAME_PAUSE);
    }
}

}  // namespace

void renderWaveform(GLFWwindow* window) {
    thread_local FrameScratch scratch;
    frameNeedsDrawing(scratch.frame);
    drawFrame(window, scratch);
}

void setGLViewScale(int scale) { glViewScale.store(scale > 0 ? scale : 1); }

void startGLRenderThread() { glRenderThread = std::thread(renderLoop); }
