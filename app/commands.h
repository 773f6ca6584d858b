// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main window's behaviour, apart from the platform's window plumbing: command guards and
// steps, the two private messages, close and destroy, and the start-up order of the GL views
// and the render thread. The Win32 window procedure and the GTK signal handlers only translate
// their events into these calls. Every function here runs on the GUI thread.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/app_types.h"
#include "capture/capture_source.h"
#include "capture/device_watcher.h"
#include "capture/recording_outcome.h"

constexpr int IDC_START_RECORDING = 1;
constexpr int IDC_STOP = 2;
constexpr int IDC_VOLUME_METER = 3;
constexpr int IDC_EXPORT_MP3 = 10;
constexpr int IDC_ACTIVITY = 11;   // the activity line (app/activity_line.h)
constexpr int IDC_INPUT_LABEL = 12;    // "Record from:"
constexpr int IDC_INPUT_CHOICE = 13;   // the input drop-down (app/input_list.h)
constexpr int IDC_PAUSE = 14;      // Pause, "Resume" while a take is paused (app/keyboard.h)
constexpr int IDC_PLAY = 15;
constexpr int IDC_WAVEFORM_GL = 1101;
constexpr int IDC_SPECTRUM_GL = 1102;

constexpr wchar_t SPECTRUM_VIEW_FAILED_TEXT[] = L"Failed to create Spectrum GL window";
constexpr wchar_t EXPORT_THREAD_FAILED_TEXT[] = L"Failed to start the MP3 export.";
constexpr wchar_t INPUT_LABEL_TEXT[] = L"Record from:";

// What the command logic needs from the platform's main window.
class MainWindowShell {
public:
    virtual ~MainWindowShell() = default;

    // Modal Save As dialog owned by the main window: the full path, or empty when cancelled.
    virtual std::wstring browseSavePath() = 0;
    virtual void setStatusText(const std::wstring& text) = 0;
    virtual void setActivityText(const std::wstring& text) = 0;
    // The input drop-down: its entries and the one shown chosen (the shell must not report this
    // as a choice of the user's), and whether the user may change it.
    virtual void showInputList(const std::vector<std::wstring>& labels, std::size_t chosen) = 0;
    virtual void enableInputList(bool enabled) = 0;
    // Has a screen reader say `text`, the new text of `line` (hwndStatus or hwndActivity),
    // without moving the focus.
    virtual void announce(HWND line, const std::wstring& text) = 0;
    // The Pause button reads "Resume" while `paused`, else "Pause".
    virtual void showPauseButton(bool paused) = 0;
    // Repaint the level meter (whole control, background erased) from currentLevel.
    virtual void invalidateLevelMeter() = 0;
    // The meter's reading for a screen reader (app/accessibility.h) changed: tell it.
    virtual void levelReadingChanged() = 0;
    // Destroy the main window; the platform then delivers the destroy event (onDestroy).
    virtual void destroyMainWindow() = 0;
    // End the message loop with exit code 0.
    virtual void postQuit() = 0;

    // GL views. createGLView leaves the new view's context current on the GUI thread.
    virtual void initGLFW() = 0;
    virtual GLFWwindow* createGLView(HWND container, int width, int height) = 0;
    virtual void releaseCurrentGLContext() = 0;
    virtual void startRenderThread() = 0;   // startGLRenderThread
    // Destroy the waveform view, then the spectrum view (each if not null), then end GLFW.
    virtual void destroyGLViewsAndTerminate() = 0;

    // Worker threads, detached. Return false when the thread could not be created. The defaults
    // run recordAudioToWav / saveAsMP3 on a std::thread; the export posts its progress and its
    // end (WM_APP_EXPORT_PROGRESS, WM_APP_EXPORT_DONE) under `exportId` to hwndMain.
    virtual bool startRecordingThread(const std::wstring& path, HWND hwnd, const CaptureEndpoint& endpoint);
    virtual bool startExportThread(const std::wstring& destination, const std::wstring& source,
                                   std::uintptr_t exportId);
    // The default runs playWavFile (capture/playback_thread.h) on a std::thread, counted by
    // notePlaybackStarted/Finished so the process can wait for it before it exits.
    virtual bool startPlaybackThread(const std::wstring& path, HWND hwnd, std::uintptr_t playbackId);
};

// Start-up after the main window and its controls exist: GLFW, the waveform view, then the
// spectrum view, the context left current handed back (the render thread draws both views),
// the error box if the spectrum view failed, then the render thread.
void startDisplay(MainWindowShell& shell);

// WM_COMMAND: the id is the low 16 bits of wParam; any notification code acts as a click.
void onCommand(MainWindowShell& shell, std::uintptr_t wParam);
void onStartRecording(MainWindowShell& shell);
// Stop ends a take and a playback alike.
void onStop();
void onExportMP3(MainWindowShell& shell);
// Pause and Resume of a take that records (isRecording and recordingThreadActive set): nothing is
// written while paused (capture/capture_thread.h). Outside a take, and once it stops, nothing.
void onPause(MainWindowShell& shell);

// The user chose entry `index` of the input drop-down.
void onInputChosen(MainWindowShell& shell, std::size_t index);
// The devices changed (WM_APP_DEVICES_CHANGED brings the news; `devices` is the watcher's
// snapshot): the list follows, keeping the choice; a chosen device gone while no take runs puts
// the choice back on the default input and says so on the status line.
void onDevicesChanged(MainWindowShell& shell, const DeviceSnapshot& devices);
// Fills the drop-down from inputChooser, e.g. once the controls exist.
void showInputList(MainWindowShell& shell);

// Play: the last take (savePath, the file Export MP3 converts) from its start, the views cleared
// as at Start and following it; during a playback it ends that one; during a take it does nothing.
void onPlay(MainWindowShell& shell);

// The private messages; returns false for other message numbers.
bool onAppMessage(MainWindowShell& shell, unsigned msg, std::uintptr_t wParam);

// A close request ends a playback; the window stays while a capture thread is alive. While exports run, the
// first request leaves it open, saying it closes once they are done (it then does); a second one
// closes it at once (the process still completes the MP3s before it exits). Start Recording or
// Export MP3 pressed while it waits cancels that wait: the window stays until closed again.
void onClose(MainWindowShell& shell);
// The main window is being destroyed: stop and join the render thread, drop the views, quit.
void onDestroy(MainWindowShell& shell);

// The status line after a recording from the input called `input` ended.
std::wstring recordingStatusText(RecordingOutcome outcome, const std::wstring& path, const std::wstring& input = {});
constexpr wchar_t CAPTURE_THREAD_FAILED_TEXT[] =
    L"Recording failed: the capture thread could not be started.";

// The status line after a playback of `path` ended (`outcome`: a PlaybackOutcome); empty when it
// played to its end or was stopped, which leave the status line as it is.
std::wstring playbackStatusText(unsigned outcome, const std::wstring& path);
constexpr wchar_t PLAYBACK_THREAD_FAILED_TEXT[] =
    L"Playback failed: the playback thread could not be started.";
