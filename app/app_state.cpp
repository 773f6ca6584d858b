// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/app_state.h"

HWND hwndMain = nullptr;
HWND hwndStart = nullptr;
HWND hwndStop = nullptr;
HWND hwndStatus = nullptr;
HWND hwndVolumeMeter = nullptr;
HWND hwndWaveformGLContainer = nullptr;
HWND hwndSpectrumGLContainer = nullptr;
HWND hwndExportMP3 = nullptr;
HWND hwndActivity = nullptr;
HWND hwndInputLabel = nullptr;
HWND hwndInputChoice = nullptr;
HWND hwndPause = nullptr;
HWND hwndPlay = nullptr;

std::atomic<bool> isRecording{false};
std::atomic<bool> recordingThreadActive{false};
std::atomic<bool> isPaused{false};
TakeCounters takeCounters;
std::int32_t globalSampleRate = 44100;
std::atomic<float> currentLevel{0.0f};
std::atomic<bool> glRunning{true};
GLFWwindow* glfwWaveformWin = nullptr;
GLFWwindow* glfwSpectrumWin = nullptr;

// The objects below are defined in this order on purpose: dynamic initialisation follows the
// order of definition within one file, and exit-time destruction runs in reverse. In particular
// glRenderThread is destroyed after the GLFW windows are gone and only once it has been joined.
std::wstring savePath = L"output.wav";
ActivityLine activityLine;
InputChooser inputChooser;
std::unique_ptr<DeviceWatcher> deviceWatcher;
std::vector<float> fftInputBuffer;
std::mutex fftInputMutex;
WaveformBuffer waveformBufferL(MAX_WAVEFORM_SIZE);
SpectrumBuffer spectrumBuffer;
SpectrogramHistory spectrogramHistory;
std::mutex waveformMutex;
std::mutex spectrumMutex;
std::thread glRenderThread;
std::vector<float> blackmanWin;
