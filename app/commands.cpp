// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/commands.h"

#include <mutex>
#include <system_error>
#include <thread>

#include "app/app_state.h"
#include "app/messaging.h"
#include "capture/capture_thread.h"
#include "export/mp3_export.h"

bool MainWindowShell::startRecordingThread(const std::wstring& path, HWND hwnd) {
    try {
        std::thread(recordAudioToWav, path, hwnd).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

bool MainWindowShell::startExportThread(const std::wstring& destination,
                                        const std::wstring& source) {
    noteExportStarted();
    try {
        std::thread([destination, source] {
            saveAsMP3(destination, source);
            noteExportFinished();
        }).detach();
        return true;
    } catch (const std::system_error&) {
        noteExportFinished();
        return false;
    }
}

void startDisplay(MainWindowShell& shell) {
    shell.initGLFW();
    glfwWaveformWin = shell.createGLView(hwndWaveformGLContainer, GL_VIEW_WIDTH, GL_VIEW_HEIGHT);
    glfwSpectrumWin = shell.createGLView(hwndSpectrumGLContainer, GL_VIEW_WIDTH, GL_VIEW_HEIGHT);
    // The render thread draws into both views and this thread into neither: the context left
    // current here (the spectrum view's, or the waveform view's when that failed) is handed
    // back, so the render thread can make it current on itself.
    shell.releaseCurrentGLContext();
    if (glfwSpectrumWin == nullptr) showErrorBox(SPECTRUM_VIEW_FAILED_TEXT);
    shell.startRenderThread();
}

void onCommand(MainWindowShell& shell, std::uintptr_t wParam) {
    switch (static_cast<int>(wParam & 0xFFFF)) {
        case IDC_START_RECORDING: onStartRecording(shell); break;
        case IDC_STOP: onStop(); break;
        case IDC_EXPORT_MP3: onExportMP3(shell); break;
        default: break;
    }
}

void onStartRecording(MainWindowShell& shell) {
    if (isRecording.load() || recordingThreadActive.load()) return;
    {
        std::lock_guard<std::mutex> lock(waveformMutex);
        waveformBufferL.clear();
    }
    {
        std::lock_guard<std::mutex> lock(spectrumMutex);
        spectrumBuffer.clear();
        spectrogramHistory.clear();
    }
    const std::wstring path = shell.browseSavePath();
    if (path.empty()) return;
    savePath = path;
    if (!shell.startRecordingThread(savePath, hwndMain)) shell.setStatusText(CAPTURE_THREAD_FAILED_TEXT);
}

void onStop() { isRecording.store(false); }

void onExportMP3(MainWindowShell& shell) {
    const std::wstring destination = shell.browseSavePath();
    if (destination.empty()) return;
    // The source is fixed now, on the GUI thread: a later Start may change savePath while the
    // export runs.
    if (!shell.startExportThread(destination, savePath)) showErrorBox(EXPORT_THREAD_FAILED_TEXT);
}

bool onAppMessage(MainWindowShell& shell, unsigned msg, std::uintptr_t wParam) {
    if (msg == WM_APP_LEVEL_UPDATE) {
        shell.invalidateLevelMeter();
        return true;
    }
    if (msg == WM_APP_RECORDING_DONE) {
        shell.setStatusText(recordingStatusText(static_cast<RecordingOutcome>(wParam), savePath));
        // The loop may have ended by itself (device gone): re-open the Start guard.
        isRecording.store(false);
        return true;
    }
    return false;
}

void onClose(MainWindowShell& shell) {
    isRecording.store(false);
    if (recordingThreadActive.load()) return;  // the file is being finalised; close again later
    shell.destroyMainWindow();
}

void onDestroy(MainWindowShell& shell) {
    glRunning.store(false);
    if (glRenderThread.joinable()) glRenderThread.join();
    shell.destroyGLViewsAndTerminate();
    shell.postQuit();
}

std::wstring recordingStatusText(RecordingOutcome outcome, const std::wstring& path) {
    switch (outcome) {
        case RecordingOutcome::Saved:
            return L"Saved to: " + path;
        case RecordingOutcome::SizeLimitReached:
            return L"Saved to: " + path + L" (stopped at the 4 GB limit of a WAV file)";
        case RecordingOutcome::WriteFailed:
            return L"Recording stopped: writing " + path +
                   L" failed (disk full?). The file keeps what was written.";
        case RecordingOutcome::NoDevice:
            return L"Recording failed: no audio capture device could be opened.";
        case RecordingOutcome::FileCreateFailed:
            return L"Recording failed: could not create " + path;
        case RecordingOutcome::BadFileName:
            return L"Recording failed: the file name contains characters that cannot be used.";
        case RecordingOutcome::UnsupportedFormat:
            return L"Recording failed: the capture device's sample format is not supported.";
        case RecordingOutcome::InternalError:
            break;
    }
    return L"Recording failed: an unexpected error ended the recording.";
}
