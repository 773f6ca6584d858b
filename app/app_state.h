// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Process-wide state shared by the GUI, capture, playback, render and export threads.
// Guards: fftInputBuffer and spectrogramFeed (analysis/spectrogram_analysis.h) <- fftInputMutex,
// waveformBufferL <- waveformMutex, spectrumBuffer and spectrogramHistory <- spectrumMutex. The
// only nesting is fftInputMutex, then spectrumMutex (the capture or playback thread, inside the
// analyses); a playback takes its feed gate (capture/playback_thread.cpp) around all of them.
// Flags and the level are seq_cst atomics, stored and loaded only (no read-modify-write).
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/activity_line.h"
#include "app/app_types.h"
#include "app/input_list.h"
#include "app/spectrogram_history.h"
#include "app/spectrum_buffer.h"
#include "app/waveform_buffer.h"

constexpr std::size_t MAX_WAVEFORM_SIZE = 65536;  // samples kept for the waveform view
constexpr std::size_t FFT_SIZE = 8192;            // FFT and Blackman window length
constexpr std::int32_t MAIN_WINDOW_WIDTH = 1200;
constexpr std::int32_t MAIN_WINDOW_HEIGHT = 1400;
constexpr std::int32_t GL_VIEW_WIDTH = 680;         // size asked when a GL view is created
constexpr std::int32_t GL_VIEW_HEIGHT = 80;
constexpr std::int32_t GL_VIEW_FULL_WIDTH = 1160;   // full-width controls and the viewport
constexpr std::int32_t ACTIVITY_X = 580;            // the activity line: right of the buttons
constexpr std::int32_t ACTIVITY_WIDTH = 600;        // (Pause, Play among them), as tall as they
                                                    // are, to the views' right edge

// Window handles: GUI thread only.
extern HWND hwndMain;
extern HWND hwndStart;
extern HWND hwndStop;
extern HWND hwndStatus;
extern HWND hwndVolumeMeter;
extern HWND hwndWaveformGLContainer;
extern HWND hwndSpectrumGLContainer;
extern HWND hwndExportMP3;
extern HWND hwndActivity;   // the activity line, created after the seven controls above
extern HWND hwndInputLabel;    // "Record from:"
extern HWND hwndInputChoice;   // the input drop-down
extern HWND hwndPause;      // the Pause button
extern HWND hwndPlay;       // the Play button, created after the activity line

// Set by the capture thread once its file is open; cleared by Stop, close and the done message.
extern std::atomic<bool> isRecording;
// True from the capture thread's first step to just before it posts its done message.
extern std::atomic<bool> recordingThreadActive;
// A take is paused: the capture thread writes none of the packets it reads (the meter still shows
// them). Set and cleared by Pause on the GUI thread during a take, cleared there by Start and by
// the done message; read by the capture thread before each packet.
extern std::atomic<bool> isPaused;
// The take's figures for the activity line, published by the capture thread: the format and the
// limit once before its first packet, the byte count and the clipping per packet (before that
// packet's level update is posted). The GUI thread reads them when the level update or the done
// message arrives; nothing polls them.
struct TakeCounters {
    std::atomic<std::int32_t> sampleRate{0};
    std::atomic<std::int32_t> channels{0};
    std::atomic<std::uint64_t> dataLimit{0};
    std::atomic<std::uint64_t> dataBytes{0};
    std::atomic<bool> clipped{false};
};
extern TakeCounters takeCounters;
// What the activity line says; GUI thread only.
extern ActivityLine activityLine;
// The input drop-down's entries and the user's choice; GUI thread only.
extern InputChooser inputChooser;
// The platform's watch on the devices, made by the shell at start-up (null until then, and in
// the tests that make none); snapshot() may be called from any thread.
extern std::unique_ptr<DeviceWatcher> deviceWatcher;
// Capture rate in Hz; capture thread only (at most one is alive).
extern std::int32_t globalSampleRate;
// Last path chosen for a recording; GUI thread only (workers receive copies).
extern std::wstring savePath;

extern std::mutex fftInputMutex;
extern std::vector<float> fftInputBuffer;        // < 1024 samples between packets
extern std::mutex waveformMutex;
extern WaveformBuffer waveformBufferL;           // newest MAX_WAVEFORM_SIZE samples
extern std::mutex spectrumMutex;
extern SpectrumBuffer spectrumBuffer;            // empty, or FFT_SIZE / 2 values in [0, 1]
extern SpectrogramHistory spectrogramHistory;    // the take's spectrogram, for the spectrum view

extern std::atomic<float> currentLevel;          // RMS of the last packet, 0..1
extern std::atomic<bool> glRunning;              // render loop runs while true

extern GLFWwindow* glfwWaveformWin;              // drawn by the render thread
extern GLFWwindow* glfwSpectrumWin;              // drawn by the render thread too
extern std::thread glRenderThread;

extern std::vector<float> blackmanWin;           // under fftInputMutex; filled once
