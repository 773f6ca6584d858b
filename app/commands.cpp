// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/commands.h"

#include <chrono>
#include <mutex>
#include <system_error>
#include <thread>

#include "app/accessibility.h"
#include "app/app_state.h"
#include "app/messaging.h"
#include "capture/capture_thread.h"
#include "capture/playback_thread.h"
#include "export/mp3_export.h"

bool MainWindowShell::startRecordingThread(const std::wstring& path, HWND hwnd, const CaptureEndpoint& endpoint) {
    try {
        std::thread(recordAudioToWav, path, hwnd, endpoint).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

bool MainWindowShell::startPlaybackThread(const std::wstring& path, HWND hwnd, std::uintptr_t playbackId) {
    notePlaybackStarted();
    try {
        std::thread([path, hwnd, playbackId] {
            playWavFile(path, hwnd, playbackId);
            notePlaybackFinished();
        }).detach();
        return true;
    } catch (const std::system_error&) {
        notePlaybackFinished();
        return false;
    }
}

namespace {

// The file the running playback plays, for its status line (a later Start changes savePath).
std::wstring playbackPath;

// The views' buffers, emptied when a take or a playback starts: they show it from its start.
void clearDisplayBuffers() {
    {
        std::lock_guard<std::mutex> lock(waveformMutex);
        waveformBufferL.clear();
    }
    std::lock_guard<std::mutex> lock(spectrumMutex);
    spectrumBuffer.clear();
    spectrogramHistory.clear();
}

// An export's progress and end, posted to the main window under the export's id.
class PostedExportProgress final : public ExportProgress {
public:
    PostedExportProgress(HWND hwnd, std::uintptr_t id) : hwnd_(hwnd), id_(id) {}
    void progressed(int percent) override {
        postAppMessage(hwnd_, WM_APP_EXPORT_PROGRESS, exportMessageParam(id_, static_cast<unsigned>(percent)));
    }
    void finished(bool saved) override {
        postAppMessage(hwnd_, WM_APP_EXPORT_DONE, exportMessageParam(id_, saved ? 1 : 0));
    }

private:
    HWND hwnd_;
    std::uintptr_t id_;
};

TakeFigures publishedTakeFigures() {
    TakeFigures f;
    f.sampleRate = takeCounters.sampleRate.load();
    f.channels = takeCounters.channels.load();
    f.dataLimit = takeCounters.dataLimit.load();
    f.dataBytes = takeCounters.dataBytes.load();
    f.clipped = takeCounters.clipped.load();
    return f;
}

void showActivity(MainWindowShell& shell) {
    std::wstring text;
    if (!activityLine.takeNewText(text)) return;
    shell.setActivityText(text);
    if (activityLine.worthAnnouncing(text)) shell.announce(hwndActivity, text);
}

// The status line changes once a take or so: each new text is said.
void showStatus(MainWindowShell& shell, const std::wstring& text) {
    shell.setStatusText(text);
    shell.announce(hwndStatus, text);
}

LevelReadingPace levelReadingPace;   // GUI thread

std::int64_t steadyMilliseconds() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The meter repainted from currentLevel, and its reading told to a screen reader when due: for a
// take's packets and a playback's alike.
void showLevel(MainWindowShell& shell) {
    shell.invalidateLevelMeter();
    if (levelReadingPace.due(levelDecibels(currentLevel.load()), steadyMilliseconds())) shell.levelReadingChanged();
}

void cancelWaitingClose(MainWindowShell& shell) {
    if (!activityLine.closing()) return;
    activityLine.closeCancelled();
    showActivity(shell);
}

}  // namespace

bool MainWindowShell::startExportThread(const std::wstring& destination,
                                        const std::wstring& source, std::uintptr_t exportId) {
    noteExportStarted();
    const HWND hwnd = hwndMain;
    try {
        std::thread([destination, source, hwnd, exportId] {
            PostedExportProgress progress(hwnd, exportId);
            saveAsMP3(destination, source, &progress);
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
        case IDC_PAUSE: onPause(shell); break;
        case IDC_PLAY: onPlay(shell); break;
        default: break;
    }
}

void onStartRecording(MainWindowShell& shell) {
    if (isRecording.load() || recordingThreadActive.load()) return;
    // The user is using the window again: a close that waited for an export no longer stands
    // (it would end this take when the export is done, or close the window under the dialog).
    cancelWaitingClose(shell);
    endPlayback();   // before the dialog: the take may be recorded into the file being played
    const std::wstring path = shell.browseSavePath();
    if (path.empty()) return;
    // Creating the file would truncate the source under a running export; the export's rename
    // would replace the file being recorded with its MP3.
    if (const wchar_t* refusal = activityLine.recordingRefusal(path)) {
        showErrorBox(refusal);
        return;
    }
    // The views show this take from now on; a cancelled or refused Start leaves the last take
    // on them, as the activity line does.
    clearDisplayBuffers();
    savePath = path;
    isPaused.store(false);
    const CaptureEndpoint& input = inputChooser.chosen();
    activityLine.takeStarted(input.name);
    showActivity(shell);
    if (!shell.startRecordingThread(savePath, hwndMain, input)) {
        showStatus(shell, CAPTURE_THREAD_FAILED_TEXT);
        return;
    }
    // The take's input is fixed now; the choice applies to the next one.
    shell.enableInputList(false);
}

void onInputChosen(MainWindowShell&, std::size_t index) {
    if (recordingThreadActive.load()) return;   // the drop-down is off during a take
    inputChooser.choose(index);
}

void showInputList(MainWindowShell& shell) {
    std::vector<std::wstring> labels;
    for (const InputEntry& e : inputChooser.entries()) labels.push_back(e.label);
    shell.showInputList(labels, inputChooser.chosenIndex());
}

void onDevicesChanged(MainWindowShell& shell, const DeviceSnapshot& devices) {
    const InputChooser::Change change = inputChooser.update(devices);
    if (change.listChanged || !change.removedName.empty()) showInputList(shell);
    // During a take its device going away ends the take, whose done message says so.
    if (!change.removedName.empty() && !recordingThreadActive.load() && !isRecording.load())
        showStatus(shell, inputRemovedText(change.removedName));
}

void onStop() {
    isRecording.store(false);
    endPlayback();
}

void onPlay(MainWindowShell& shell) {
    if (isRecording.load() || recordingThreadActive.load()) return;
    cancelWaitingClose(shell);
    if (activityLine.playback() != 0) {
        endPlayback();   // its done message puts the take's figures back on the activity line
        return;
    }
    const std::uintptr_t id = beginPlayback();
    // The views show the playback from its start, as they show a take from Start.
    clearDisplayBuffers();
    playbackPath = savePath;
    activityLine.playbackStarted(id);
    if (!shell.startPlaybackThread(playbackPath, hwndMain, id)) {
        activityLine.playbackEnded(id);
        showStatus(shell, PLAYBACK_THREAD_FAILED_TEXT);
    }
}

void onPause(MainWindowShell& shell) {
    // Before the file is open there is nothing to pause; once Stop or a close cleared
    // isRecording the take is ending, and what the source still delivers belongs to the state it
    // was in (dropped when paused).
    if (!isRecording.load() || !recordingThreadActive.load()) return;
    const bool paused = !isPaused.load();
    isPaused.store(paused);
    activityLine.takePaused(paused);
    showActivity(shell);
    shell.showPauseButton(paused);
}

void onExportMP3(MainWindowShell& shell) {
    cancelWaitingClose(shell);
    const std::wstring destination = shell.browseSavePath();
    if (destination.empty()) return;
    // The source is fixed now, on the GUI thread: a later Start may change savePath while the
    // export runs.
    const std::uintptr_t id = activityLine.exportStarted(destination, savePath);
    const bool started = shell.startExportThread(destination, savePath, id);
    if (!started) activityLine.exportFinished(id, false);
    showActivity(shell);
    if (!started) showErrorBox(EXPORT_THREAD_FAILED_TEXT);
}

bool onAppMessage(MainWindowShell& shell, unsigned msg, std::uintptr_t wParam) {
    if (msg == WM_APP_LEVEL_UPDATE) {
        showLevel(shell);
        if (activityLine.takeRecording(publishedTakeFigures())) showActivity(shell);
        return true;
    }
    if (msg == WM_APP_RECORDING_DONE) {
        const auto outcome = static_cast<RecordingOutcome>(wParam);
        showStatus(shell, recordingStatusText(outcome, savePath, activityLine.takeInput()));
        activityLine.takeEnded(publishedTakeFigures(), takeComplete(outcome));
        showActivity(shell);
        // The loop may have ended by itself (device gone): re-open the Start guard.
        isRecording.store(false);
        shell.enableInputList(true);
        if (isPaused.load()) {
            isPaused.store(false);
            shell.showPauseButton(false);
        }
        return true;
    }
    if (msg == WM_APP_DEVICES_CHANGED) {
        if (deviceWatcher != nullptr) onDevicesChanged(shell, deviceWatcher->snapshot());
        return true;
    }
    if (msg == WM_APP_PLAYBACK_PROGRESS) {
        if (wParam != activityLine.playback()) return true;   // one that was ended since
        showLevel(shell);
        const PlaybackFigures f = publishedPlaybackFigures();
        if (activityLine.playbackProgressed(wParam, f.playedFrames, f.totalFrames, f.sampleRate)) showActivity(shell);
        return true;
    }
    if (msg == WM_APP_PLAYBACK_DONE) {
        if (!activityLine.playbackEnded(exportMessageId(wParam))) return true;
        const std::wstring status = playbackStatusText(exportMessageValue(wParam), playbackPath);
        if (!status.empty()) showStatus(shell, status);
        showActivity(shell);
        return true;
    }
    if (msg == WM_APP_EXPORT_PROGRESS) {
        if (activityLine.exportProgressed(exportMessageId(wParam), static_cast<int>(exportMessageValue(wParam))))
            showActivity(shell);
        return true;
    }
    if (msg == WM_APP_EXPORT_DONE) {
        activityLine.exportFinished(exportMessageId(wParam), exportMessageValue(wParam) != 0);
        showActivity(shell);
        // Asked before, while this export ran, and not cancelled by a command since (so no take
        // has started).
        if (activityLine.closing() && !activityLine.exporting() && !recordingThreadActive.load())
            shell.destroyMainWindow();
        return true;
    }
    return false;
}

void onClose(MainWindowShell& shell) {
    isRecording.store(false);
    endPlayback();
    if (recordingThreadActive.load()) return;  // the file is being finalised; close again later
    if (activityLine.exporting() && !activityLine.closing()) {
        activityLine.closeRequested();
        showActivity(shell);
        return;
    }
    shell.destroyMainWindow();
}

void onDestroy(MainWindowShell& shell) {
    endPlayback();   // also when the window goes without a close request (the process waits for it)
    glRunning.store(false);
    if (glRenderThread.joinable()) glRenderThread.join();
    shell.destroyGLViewsAndTerminate();
    shell.postQuit();
}

std::wstring recordingStatusText(RecordingOutcome outcome, const std::wstring& path, const std::wstring& input) {
    switch (outcome) {
        case RecordingOutcome::Saved:
            return L"Saved to: " + path;
        case RecordingOutcome::SizeLimitReached:
            return L"Saved to: " + path + L" (stopped at the 4 GB limit of a WAV file)";
        case RecordingOutcome::DeviceRemoved:
            return L"Saved to: " + path + (input.empty() ? L" (the input was removed)" : L" (the input " + input + L" was removed)");
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

std::wstring playbackStatusText(unsigned outcome, const std::wstring& path) {
    switch (static_cast<PlaybackOutcome>(outcome)) {
        case PlaybackOutcome::Finished:
        case PlaybackOutcome::Stopped:
            return {};
        case PlaybackOutcome::BadFileName:
            return L"Playback failed: the file name contains characters that cannot be opened.";
        case PlaybackOutcome::OpenFailed:
            return L"Playback failed: could not open " + path;
        case PlaybackOutcome::NotRecorderWav:
            return L"Playback failed: " + path + L" is not a 16-bit PCM WAV file.";
        case PlaybackOutcome::UnsupportedFormat:
            return L"Playback failed: the sample rate or channel count of " + path + L" cannot be played.";
        case PlaybackOutcome::NoDevice:
            return L"Playback failed: no audio output device could be opened.";
        case PlaybackOutcome::DeviceLost:
            return L"Playback stopped: the audio output device stopped playing.";
        case PlaybackOutcome::ReadFailed:
            return L"Playback stopped: reading " + path + L" failed.";
        case PlaybackOutcome::InternalError:
            break;
    }
    return L"Playback failed: an unexpected error ended the playback.";
}
