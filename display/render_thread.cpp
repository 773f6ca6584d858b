// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/render_thread.h"

#include <GL/glew.h>   // before any other GL header
#include <GLFW/glfw3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "display/frame_builder.h"

namespace {

constexpr auto FRAME_PAUSE = std::chrono::milliseconds(16);
// OpenGL 1.1 textures have power-of-two sizes: the spectrogram's rows are the lower part.
constexpr GLsizei TEXTURE_HEIGHT = 128;

std::atomic<int> glViewScale{1};

// Per-frame working storage, kept between frames so a frame allocates nothing once the vectors
// have grown. One per render thread.
struct FrameScratch {
    FrameSnapshot frame;
    std::vector<Vertex2> vertices;
};

// The spectrum view's side: the columns not drawn yet, and the texture (in the view's context,
// which owns it and frees it with the view) that holds the SPECTROGRAM_COLUMNS newest ones, as
// a ring: column c at x = c % SPECTROGRAM_COLUMNS. Each frame uploads only the new columns.
struct SpectrogramScratch {
    SpectrogramSnapshot snapshot;
    std::vector<unsigned char> texels;
    GLuint texture = 0;   // made by the first frame
};

// Both views draw from client-side vertex arrays (OpenGL 1.1), never between glBegin and glEnd:
// Mesa keeps a vertex buffer of its own for each context that draws in immediate mode, resident
// in the process (with llvmpipe), while arrays are streamed like the constants. Same vertices,
// same pixels.
void drawLineStrip(const std::vector<Vertex2>& vertices, float r, float g, float b) {
    if (vertices.empty()) return;
    glColor3f(r, g, b);
    glVertexPointer(2, GL_FLOAT, sizeof(Vertex2), &vertices.front().x);
    glDrawArrays(GL_LINE_STRIP, 0, static_cast<GLsizei>(vertices.size()));
}

// Makes the view's context current on this thread and clears the view to black.
void beginFrame(GLFWwindow* window) {
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
    // for the whole run once the colours have filled it and moved on. Re-loaded, the 64 bytes
    // follow the colours into the current buffer and each filled one is freed. Same picture; a
    // 64-byte upload a frame.
    glLoadIdentity();
    glEnableClientState(GL_VERTEX_ARRAY);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
}

// Draws the copied frame and presents it, also when only the background was drawn.
void drawFrame(GLFWwindow* window, FrameScratch& scratch) {
    beginFrame(window);
    buildFrameWaveformVertices(scratch.frame, scratch.vertices);
    drawLineStrip(scratch.vertices, 0.0f, 1.0f, 0.0f);
    buildSpectrumVertices(scratch.frame.bins, scratch.vertices);
    drawLineStrip(scratch.vertices, 1.0f, 0.0f, 0.0f);
    glfwSwapBuffers(window);
}

void uploadNewColumns(SpectrogramScratch& s) {
    const std::size_t count = s.snapshot.newLevels.size() / SPECTROGRAM_ROWS;
    for (std::size_t done = 0; done < count;) {
        // Up to the texture's right edge; the ring goes on at its left edge.
        const std::size_t x = (s.snapshot.firstNew + done) % SPECTROGRAM_COLUMNS;
        const std::size_t run = std::min(count - done, SPECTROGRAM_COLUMNS - x);
        buildSpectrogramTexels(s.snapshot, done, run, s.texels);
        glTexSubImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(x), 0, static_cast<GLsizei>(run),
                        SPECTROGRAM_ROWS, GL_RGBA, GL_UNSIGNED_BYTE, s.texels.data());
        done += run;
    }
    s.snapshot.newLevels.clear();   // drawn from now on
}

// Draws the spectrogram and presents it: the take's newest columns from the right edge
// leftwards (time runs right to left); black where the take has no column yet, all black
// before the first take.
void drawSpectrogram(GLFWwindow* window, SpectrogramScratch& s) {
    beginFrame(window);
    if (s.texture == 0) {
        glGenTextures(1, &s.texture);
        glBindTexture(GL_TEXTURE_2D, s.texture);   // the context's only texture, bound for good
        // A texel per column and row, no blending between them: a texture row is a view row
        // (scale device rows), and a column one pixel or more.
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
        glEnable(GL_TEXTURE_2D);   // all this context draws is the textured quad
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, SPECTROGRAM_COLUMNS, TEXTURE_HEIGHT, 0, GL_RGBA,
                     GL_UNSIGNED_BYTE, nullptr);   // never drawn before a column is uploaded
    }
    uploadNewColumns(s);
    const SpectrogramSnapshot& snap = s.snapshot;
    const std::uint64_t shown = std::min<std::uint64_t>(snap.columns, SPECTROGRAM_COLUMNS);
    if (shown > 0) {
        const float left = 1.0f - 2.0f * static_cast<float>(shown) / SPECTROGRAM_COLUMNS;
        // Texture x of the newest column's right edge and of the oldest shown one's left edge;
        // the latter may be negative, where the repeating texture wraps to the ring's end.
        const float columns = SPECTROGRAM_COLUMNS;
        const float right = static_cast<float>(snap.columns % SPECTROGRAM_COLUMNS) / columns;
        const float oldest = right - static_cast<float>(shown) / columns;
        const float top = static_cast<float>(SPECTROGRAM_ROWS) / TEXTURE_HEIGHT;
        const GLfloat corners[] = {left, -1.0f, 1.0f, -1.0f, 1.0f, 1.0f, left, 1.0f};
        const GLfloat texCoords[] = {oldest, 0.0f, right, 0.0f, right, top, oldest, top};
        glVertexPointer(2, GL_FLOAT, 0, corners);
        glTexCoordPointer(2, GL_FLOAT, 0, texCoords);
        glDrawArrays(GL_QUADS, 0, 4);
    }
    glfwSwapBuffers(window);
}

void renderLoop() {
    FrameScratch scratch;
    SpectrogramScratch spectrogram;
    for (;;) {
        if (!glRunning.load()) return;
        // A failed waveform view must never reach GLFW: end the thread, recording goes on.
        GLFWwindow* const view = glfwWaveformWin;
        if (view == nullptr) return;
        if (glfwWindowShouldClose(view)) return;
        // Same pixels, fewer frames: when nothing a view shows changed and the window system
        // did not ask for a repaint, the frame on screen already is the one that would be drawn.
        if (frameNeedsDrawing(scratch.frame)) drawFrame(view, scratch);
        GLFWwindow* const spectrumView = glfwSpectrumWin;
        if (spectrumView != nullptr && spectrogramNeedsDrawing(spectrogram.snapshot))
            drawSpectrogram(spectrumView, spectrogram);
        std::this_thread::sleep_for(FRAME_PAUSE);
    }
}

}  // namespace

void renderWaveform(GLFWwindow* window) {
    thread_local FrameScratch scratch;
    frameNeedsDrawing(scratch.frame);
    drawFrame(window, scratch);
}

void renderSpectrogram(GLFWwindow* window) {
    SpectrogramScratch scratch;
    spectrogramNeedsDrawing(scratch.snapshot);
    drawSpectrogram(window, scratch);
    glDeleteTextures(1, &scratch.texture);
}

void setGLViewScale(int scale) { glViewScale.store(scale > 0 ? scale : 1); }

void startGLRenderThread() { glRenderThread = std::thread(renderLoop); }
