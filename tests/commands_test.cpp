// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <functional>
#include <thread>
#include <tuple>
#include <utility>

#include "app/accessibility.h"
#include "app/app_state.h"
#include "app/commands.h"
#include "app/keyboard.h"
#include "capture/wav_header.h"
#include "export/mp3_export.h"
#include "app/level_meter.h"
#include "app/messaging.h"
#include "display/frame_builder.h"
#include "capture/playback_thread.h"
#include "tests/fake_capture_source.h"
#include "tests/fake_playback_output.h"
#include "tests/test_support.h"

namespace {

GLFWwindow* fakeView(std::uintptr_t v) { return reinterpret_cast<GLFWwindow*>(v); }
HWND fakeHwnd(std::uintptr_t v) { return reinterpret_cast<HWND>(v); }

// A main window that records what the command logic asked of it.
class FakeShell : public MainWindowShell {
public:
    std::vector<std::wstring> dialogAnswers;  // consumed in order; empty string = cancel
    std::vector<std::string> events;
    std::wstring status = L"Ready";
    std::wstring activity;
    std::vector<std::wstring> inputs;
    std::size_t chosenInput = 0;
    bool inputEnabled = true;
    std::vector<std::wstring> announced;
    std::vector<bool> pauseButton;   // each change of the Pause button: true = "Resume"
    bool failThreads = false;
    bool realThreads = false;
    bool spectrumViewFails = false;
    std::vector<std::pair<std::wstring, HWND>> recordings;
    std::vector<CaptureEndpoint> recordedInputs;
    std::vector<std::pair<std::wstring, std::wstring>> exports;

    std::wstring browseSavePath() override {
        events.push_back("dialog");
        if (dialogAnswers.empty()) return L"";
        std::wstring a = dialogAnswers.front();
        dialogAnswers.erase(dialogAnswers.begin());
        return a;
    }
    void setStatusText(const std::wstring& text) override { status = text; }
    void setActivityText(const std::wstring& text) override { activity = text; }
    void showInputList(const std::vector<std::wstring>& labels, std::size_t chosen) override {
        inputs = labels;
        chosenInput = chosen;
    }
    void enableInputList(bool enabled) override { inputEnabled = enabled; }
    void announce(HWND, const std::wstring& text) override { announced.push_back(text); }
    void showPauseButton(bool paused) override { pauseButton.push_back(paused); }
    void invalidateLevelMeter() override { events.push_back("invalidate"); }
    void levelReadingChanged() override {}
    void destroyMainWindow() override { events.push_back("destroy-window"); }
    void postQuit() override { events.push_back("quit"); }
    void initGLFW() override { events.push_back("glfw-init"); }
    GLFWwindow* createGLView(HWND container, int w, int h) override {
        events.push_back("create " + std::to_string(reinterpret_cast<std::uintptr_t>(container)) +
                         " " + std::to_string(w) + "x" + std::to_string(h));
        if (container == hwndSpectrumGLContainer && spectrumViewFails) return nullptr;
        return fakeView(reinterpret_cast<std::uintptr_t>(container) + 1);
    }
    void releaseCurrentGLContext() override { events.push_back("release-context"); }
    void startRenderThread() override { events.push_back("render-thread"); }
    void destroyGLViewsAndTerminate() override {
        events.push_back(std::string("destroy-views render-joinable=") +
                         (glRenderThread.joinable() ? "yes" : "no"));
    }
    bool startRecordingThread(const std::wstring& path, HWND hwnd, const CaptureEndpoint& input) override {
        if (realThreads) return MainWindowShell::startRecordingThread(path, hwnd, input);
        if (failThreads) return false;
        recordings.emplace_back(path, hwnd);
        recordedInputs.push_back(input);
        return true;
    }
    bool startPlaybackThread(const std::wstring& path, HWND hwnd, std::uintptr_t id) override {
        if (realThreads) return MainWindowShell::startPlaybackThread(path, hwnd, id);
        return !failThreads;
    }
    bool startExportThread(const std::wstring& dest, const std::wstring& source, std::uintptr_t) override {
        if (failThreads) return false;
        exports.emplace_back(dest, source);
        return true;
    }
};

void fillDisplayBuffers() {
    const std::int16_t s[3] = {1, 2, 3};
    std::lock_guard<std::mutex> a(waveformMutex);
    waveformBufferL.append(s, 3);
    std::lock_guard<std::mutex> b(spectrumMutex);
    std::vector<float> bins(4096, 0.5f);
    spectrumBuffer.replace(bins);
}

// A mono 48 kHz take of `seconds`, as the capture thread publishes it, and the level message
// that has the activity line show it.
void takeRecorded(FakeShell& shell, int seconds) {
    takeCounters.sampleRate.store(48000);
    takeCounters.channels.store(1);
    takeCounters.dataLimit.store(WAV_MAX_DATA_BYTES);
    takeCounters.dataBytes.store(2 * 48000 * std::uint64_t(seconds));
    onAppMessage(shell, WM_APP_LEVEL_UPDATE, 0);
}

bool displayBuffersEmpty() {
    std::lock_guard<std::mutex> a(waveformMutex);
    std::lock_guard<std::mutex> b(spectrumMutex);
    return waveformBufferL.empty() && spectrumBuffer.empty();
}

}  // namespace

TEST(Commands, StartGuardsDialogAndThread) {
    resetSharedState();
    RecordingMessaging sink;
    hwndMain = fakeHwnd(0x77);
    FakeShell shell;

    // Busy states: no dialog, nothing cleared.
    for (auto [recording, active] : {std::pair{true, false}, {false, true}, {true, true}}) {
        isRecording.store(recording);
        recordingThreadActive.store(active);
        fillDisplayBuffers();
        onCommand(shell, IDC_START_RECORDING);
        EXPECT_TRUE(shell.events.empty());
        EXPECT_FALSE(displayBuffersEmpty());
    }
    isRecording.store(false);
    recordingThreadActive.store(false);

    // Cancelled dialog: the views keep the last take, savePath kept, no thread, status unchanged.
    fillDisplayBuffers();
    FrameSnapshot frame;
    frameNeedsDrawing(frame);
    onCommand(shell, IDC_START_RECORDING);
    EXPECT_EQ(shell.events, std::vector<std::string>{"dialog"});
    EXPECT_FALSE(displayBuffersEmpty());
    EXPECT_FALSE(frameNeedsDrawing(frame));
    EXPECT_EQ(savePath, L"output.wav");
    EXPECT_TRUE(shell.recordings.empty());
    EXPECT_EQ(shell.status, L"Ready");

    // A chosen path; any notification code in the high word acts as the click. The take starts:
    // the render thread sees the views cleared and draws them empty.
    shell.dialogAnswers = {L"/tmp/take one.wav"};
    onCommand(shell, (5u << 16) | IDC_START_RECORDING);
    EXPECT_TRUE(displayBuffersEmpty());
    EXPECT_TRUE(frameNeedsDrawing(frame));
    EXPECT_EQ(frame.sampleCount, 0u);
    EXPECT_TRUE(frame.bins.empty());
    EXPECT_EQ(savePath, L"/tmp/take one.wav");
    ASSERT_EQ(shell.recordings.size(), 1u);
    EXPECT_EQ(shell.recordings[0].first, L"/tmp/take one.wav");
    EXPECT_EQ(shell.recordings[0].second, fakeHwnd(0x77));

    // The capture thread cannot be created: the status line says so, the guard stays open.
    shell.failThreads = true;
    shell.dialogAnswers = {L"/tmp/two.wav"};
    onCommand(shell, IDC_START_RECORDING);
    EXPECT_EQ(shell.status, CAPTURE_THREAD_FAILED_TEXT);
    EXPECT_FALSE(isRecording.load());
    EXPECT_FALSE(recordingThreadActive.load());

    // Stop while idle changes nothing visible; unknown ids are ignored.
    shell.events.clear();
    onCommand(shell, IDC_STOP);
    onCommand(shell, 999);
    EXPECT_FALSE(isRecording.load());
    EXPECT_TRUE(shell.events.empty());
    EXPECT_TRUE(sink.errorBoxes().empty());
}

TEST(Commands, ExportFixesItsSourceAtTheCommandAndShowsItsProgress) {
    resetSharedState();
    RecordingMessaging sink;
    FakeShell shell;
    savePath = L"/rec/a.wav";
    isRecording.store(true);  // allowed during a recording
    onCommand(shell, IDC_EXPORT_MP3);  // cancelled: nothing
    EXPECT_TRUE(shell.exports.empty());
    shell.dialogAnswers = {L"/out/a.mp3", L"/out/b.mp3"};
    onCommand(shell, IDC_EXPORT_MP3);
    savePath = L"/rec/b.wav";
    onCommand(shell, IDC_EXPORT_MP3);
    ASSERT_EQ(shell.exports.size(), 2u);
    EXPECT_EQ(shell.exports[0], (std::pair<std::wstring, std::wstring>{L"/out/a.mp3", L"/rec/a.wav"}));
    EXPECT_EQ(shell.exports[1], (std::pair<std::wstring, std::wstring>{L"/out/b.mp3", L"/rec/b.wav"}));
    EXPECT_TRUE(sink.errorBoxes().empty());

    shell.failThreads = true;
    shell.dialogAnswers = {L"/out/c.mp3"};
    onCommand(shell, IDC_EXPORT_MP3);
    ASSERT_EQ(sink.errorBoxes().size(), 1u);
    EXPECT_EQ(sink.errorBoxes()[0], EXPORT_THREAD_FAILED_TEXT);

    // Both exports on the activity line, each with its progress, until it is over.
    onAppMessage(shell, WM_APP_EXPORT_PROGRESS, exportMessageParam(2, 42));
    EXPECT_EQ(shell.activity, L"Exporting a.mp3: 0 % · Exporting b.mp3: 42 %");
    onAppMessage(shell, WM_APP_EXPORT_DONE, exportMessageParam(2, 1));
    EXPECT_EQ(shell.activity, L"Exporting a.mp3: 0 % · MP3 saved: b.mp3");
}

TEST(Commands, RecordingIntoARunningExportsFilesIsRefused) {
    resetSharedState();
    RecordingMessaging sink;
    FakeShell shell;
    TempDir dir;
    writeFileBytes(dir.file("src.wav"), {1});
    savePath = dir.file("src.wav").wstring();
    // An export reads src.wav and writes out.mp3, which does not exist yet.
    shell.dialogAnswers = {dir.file("out.mp3").wstring()};
    onCommand(shell, IDC_EXPORT_MP3);
    fillDisplayBuffers();
    // Into its source (another name for the file), then into its destination (the same name,
    // spelt another way): both refused before any file is touched, the last take kept on view.
    const std::pair<std::wstring, const wchar_t*> refused[] = {
        {(dir.path() / "." / "src.wav").wstring(), RECORDING_INTO_EXPORT_SOURCE_TEXT},
        {(dir.path() / "x" / ".." / "out.mp3").wstring(), RECORDING_INTO_EXPORT_DESTINATION_TEXT}};
    for (const auto& [path, text] : refused) {
        shell.dialogAnswers = {path};
        onCommand(shell, IDC_START_RECORDING);
        EXPECT_EQ(sink.errorBoxes().back(), text);
    }
    EXPECT_TRUE(shell.recordings.empty());
    EXPECT_FALSE(displayBuffersEmpty());
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.mp3")));
    shell.dialogAnswers = {dir.file("new.wav").wstring()};
    onCommand(shell, IDC_START_RECORDING);
    EXPECT_EQ(shell.recordings.size(), 1u);
    EXPECT_EQ(sink.errorBoxes().size(), 2u);
}

TEST(Commands, CloseDuringAnExportWaitsForItUnlessTheUserGoesOn) {
    resetSharedState();
    RecordingMessaging sink;
    FakeShell shell;
    shell.dialogAnswers = {L"/out/a.mp3", L"/out/d.mp3"};
    onCommand(shell, IDC_EXPORT_MP3);
    onCommand(shell, IDC_EXPORT_MP3);
    shell.events.clear();

    // Closing while exports run: the window stays and says why, and closes once they are over.
    onClose(shell);
    EXPECT_EQ(shell.activity, L"Closing once the MP3 export is done · Exporting a.mp3: 0 % · Exporting d.mp3: 0 %");
    onAppMessage(shell, WM_APP_EXPORT_DONE, exportMessageParam(1, 0));
    EXPECT_EQ(shell.activity, L"Closing once the MP3 export is done · Exporting d.mp3: 0 %") << "no MP3 saved";
    EXPECT_TRUE(shell.events.empty());
    onAppMessage(shell, WM_APP_EXPORT_DONE, exportMessageParam(2, 1));
    EXPECT_EQ(shell.activity, L"MP3 saved: d.mp3");
    EXPECT_EQ(shell.events, std::vector<std::string>{"destroy-window"});

    // A second close request closes at once.
    FakeShell again;
    again.dialogAnswers = {L"/out/a.mp3"};
    onCommand(again, IDC_EXPORT_MP3);
    onClose(again);
    onClose(again);
    EXPECT_EQ(again.events, (std::vector<std::string>{"dialog", "destroy-window"}));

    // Start while the window waits: the wait is over, and the export's end neither closes the
    // window nor ends the take; a later export does not close it either.
    resetSharedState();
    shell = FakeShell();
    shell.dialogAnswers = {L"/out/a.mp3", L"/out/d.mp3"};
    onCommand(shell, IDC_EXPORT_MP3);
    onCommand(shell, IDC_EXPORT_MP3);
    onAppMessage(shell, WM_APP_EXPORT_DONE, exportMessageParam(2, 1));
    onClose(shell);
    ASSERT_EQ(shell.activity.rfind(L"Closing", 0), 0u);
    shell.dialogAnswers = {L"/tmp/take.wav"};
    onCommand(shell, IDC_START_RECORDING);
    EXPECT_EQ(shell.activity, L"Exporting a.mp3: 0 % · MP3 saved: d.mp3");
    recordingThreadActive.store(true);
    isRecording.store(true);
    onAppMessage(shell, WM_APP_EXPORT_DONE, exportMessageParam(1, 1));
    EXPECT_TRUE(isRecording.load());
    shell.dialogAnswers = {L"/out/f.mp3"};
    onCommand(shell, IDC_EXPORT_MP3);
    onAppMessage(shell, WM_APP_EXPORT_DONE, exportMessageParam(3, 1));
    EXPECT_TRUE(isRecording.load());

    // So does Export MP3, even one cancelled in its dialog.
    recordingThreadActive.store(false);
    isRecording.store(false);
    shell.dialogAnswers = {L"/out/g.mp3"};
    onCommand(shell, IDC_EXPORT_MP3);
    onClose(shell);
    onCommand(shell, IDC_EXPORT_MP3);
    onAppMessage(shell, WM_APP_EXPORT_DONE, exportMessageParam(4, 1));
    EXPECT_EQ(std::count(shell.events.begin(), shell.events.end(), "destroy-window"), 0);
}

TEST(Commands, PrivateMessagesCloseAndDestroy) {
    resetSharedState();
    RecordingMessaging sink;
    FakeShell shell;
    EXPECT_TRUE(onAppMessage(shell, WM_APP_LEVEL_UPDATE, 0));
    EXPECT_EQ(shell.events, std::vector<std::string>{"invalidate"});
    EXPECT_FALSE(onAppMessage(shell, 0x80FF, 0));

    // Done: status from the outcome, and the Start guard re-opens when the loop ended by itself.
    savePath = L"C:\\rec\\first.wav";
    isRecording.store(true);
    onAppMessage(shell, WM_APP_RECORDING_DONE, static_cast<std::uintptr_t>(RecordingOutcome::Saved));
    EXPECT_EQ(shell.status, L"Saved to: C:\\rec\\first.wav");
    EXPECT_FALSE(isRecording.load());
    savePath = L"C:\\rec\\second.wav";
    onAppMessage(shell, WM_APP_RECORDING_DONE, static_cast<std::uintptr_t>(RecordingOutcome::Saved));
    EXPECT_EQ(shell.status, L"Saved to: C:\\rec\\second.wav");
    onAppMessage(shell, WM_APP_RECORDING_DONE, static_cast<std::uintptr_t>(RecordingOutcome::NoDevice));
    EXPECT_EQ(shell.status.find(L"Saved to"), std::wstring::npos) << "a failure is not a save";
    EXPECT_EQ(shell.status.rfind(L"Recording failed", 0), 0u);
    for (std::uintptr_t o = 1; o <= 9; ++o) {
        const std::wstring text = recordingStatusText(static_cast<RecordingOutcome>(o), L"x.wav");
        if (o == static_cast<std::uintptr_t>(RecordingOutcome::SizeLimitReached) ||
            o == static_cast<std::uintptr_t>(RecordingOutcome::DeviceRemoved)) {
            EXPECT_EQ(text.rfind(L"Saved to: x.wav", 0), 0u);
        } else {
            EXPECT_EQ(text.find(L"Saved to"), std::wstring::npos) << o;
        }
    }

    // The activity line follows the take through the figures the capture thread published.
    takeRecorded(shell, 65);
    EXPECT_EQ(shell.activity, L"Recording 1:05 · 48 kHz, 1 channel · 5.9 MB");
    takeCounters.clipped.store(true);
    onAppMessage(shell, WM_APP_RECORDING_DONE, static_cast<std::uintptr_t>(RecordingOutcome::Saved));
    EXPECT_EQ(shell.activity, L"Recorded 1:05 · 48 kHz, 1 channel · 5.9 MB · Clipped: some samples reached full scale");
    // Until the next Start; a take that fails to start shows no time.
    shell.dialogAnswers = {L"/tmp/next.wav"};
    onCommand(shell, IDC_START_RECORDING);
    EXPECT_EQ(shell.activity, L"");
    onAppMessage(shell, WM_APP_RECORDING_DONE, static_cast<std::uintptr_t>(RecordingOutcome::NoDevice));
    EXPECT_EQ(shell.activity, L"");

    // Close while a capture thread lives: recording ends, window stays.
    shell.events.clear();
    isRecording.store(true);
    recordingThreadActive.store(true);
    onClose(shell);
    EXPECT_FALSE(isRecording.load());
    EXPECT_TRUE(shell.events.empty());
    recordingThreadActive.store(false);
    onClose(shell);
    EXPECT_EQ(shell.events, std::vector<std::string>{"destroy-window"});

    // Destroy: the render thread is stopped and joined before the views go, then quit.
    shell.events.clear();
    glRunning.store(true);
    glRenderThread = std::thread([] {
        while (glRunning.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    onDestroy(shell);
    EXPECT_FALSE(glRunning.load());
    EXPECT_EQ(shell.events,
              (std::vector<std::string>{"destroy-views render-joinable=no", "quit"}));
    glRunning.store(true);
}

TEST(Commands, PauseHoldsATakeUntilResumeAndNothingElse) {
    resetSharedState();
    RecordingMessaging sink;
    FakeShell shell;
    // No take, one being prepared, one stopping: nothing to pause.
    for (auto [recording, active] : {std::pair{false, false}, {false, true}, {true, false}}) {
        isRecording.store(recording);
        recordingThreadActive.store(active);
        onCommand(shell, IDC_PAUSE);
        EXPECT_FALSE(isPaused.load());
    }
    isRecording.store(true);
    recordingThreadActive.store(true);
    takeRecorded(shell, 83);
    // Paused: the figures hold while the meter goes on; Resume; paused again, then Stop.
    onCommand(shell, IDC_PAUSE);
    EXPECT_TRUE(isPaused.load());
    onAppMessage(shell, WM_APP_LEVEL_UPDATE, 0);
    onCommand(shell, IDC_PAUSE);
    takeRecorded(shell, 84);   // a second more: shown, not said
    EXPECT_EQ(shell.activity, L"Recording 1:24 · 48 kHz, 1 channel · 7.6 MB");
    onCommand(shell, IDC_PAUSE);
    onStop();
    onCommand(shell, IDC_PAUSE);   // stopping: stays paused, so what still comes is dropped
    EXPECT_TRUE(isPaused.load());
    recordingThreadActive.store(false);
    onAppMessage(shell, WM_APP_RECORDING_DONE, static_cast<std::uintptr_t>(RecordingOutcome::Saved));
    EXPECT_FALSE(isPaused.load());
    EXPECT_EQ(shell.pauseButton, (std::vector<bool>{true, false, true, false}));
    EXPECT_EQ(shell.announced, (std::vector<std::wstring>{
        L"Recording 1:23 · 48 kHz, 1 channel · 7.5 MB", L"Paused 1:23 · 48 kHz, 1 channel · 7.5 MB",
        L"Recording 1:23 · 48 kHz, 1 channel · 7.5 MB", L"Paused 1:24 · 48 kHz, 1 channel · 7.6 MB",
        L"Saved to: output.wav", L"Recorded 1:24 · 48 kHz, 1 channel · 7.6 MB"}));
}

TEST(Keyboard, MnemonicsTextsAndScreenOrder) {
    const std::pair<char32_t, int> letters[] = {{U's', IDC_START_RECORDING}, {U'T', IDC_STOP},
        {U'e', IDC_EXPORT_MP3}, {U'P', IDC_PAUSE}, {U'L', IDC_PLAY}, {U'r', 0}, {U'x', 0}, {U'\u00E9', 0}};
    for (auto [letter, id] : letters) EXPECT_EQ(mnemonicCommand(letter), id) << static_cast<unsigned>(letter);
    EXPECT_EQ(buttonMnemonicText(IDC_START_RECORDING, L'&'), L"&Start Recording");
    EXPECT_EQ(buttonMnemonicText(IDC_STOP, L'_'), L"S_top");
    EXPECT_EQ(buttonMnemonicText(IDC_PAUSE, L'&', true), L"Resume");
    // Rows by their vertical centres (a label 5 px lower in a 20 px row is in the same row).
    const std::vector<ControlBox> boxes = {{370, 20, 90, 30}, {130, 300, 450, 30}, {20, 305, 100, 20},
                                           {20, 20, 140, 30}, {180, 20, 80, 30}};
    auto walk = [&](bool backwards, std::size_t steps) {   // from no focus
        std::vector<int> seen;
        for (int i = -1; seen.size() < steps;) seen.push_back(i = nextInScreenOrder(boxes, i, backwards));
        return seen;
    };
    EXPECT_EQ(walk(false, 6), (std::vector<int>{3, 4, 0, 2, 1, 3}));
    EXPECT_EQ(walk(true, 5), (std::vector<int>{1, 2, 0, 4, 3}));
    EXPECT_EQ(nextInScreenOrder({}, -1, false), -1);
}

TEST(Commands, DisplayStartUpOrder) {
    resetSharedState();
    RecordingMessaging sink;
    hwndWaveformGLContainer = fakeHwnd(1101);
    hwndSpectrumGLContainer = fakeHwnd(1102);
    FakeShell shell;
    startDisplay(shell);
    EXPECT_EQ(shell.events, (std::vector<std::string>{"glfw-init", "create 1101 680x80",
                                                      "create 1102 680x80", "release-context",
                                                      "render-thread"}));
    EXPECT_EQ(glfwWaveformWin, fakeView(1102));
    EXPECT_EQ(glfwSpectrumWin, fakeView(1103));
    EXPECT_TRUE(sink.errorBoxes().empty());

    FakeShell failing;
    failing.spectrumViewFails = true;
    startDisplay(failing);
    EXPECT_EQ(failing.events,
              (std::vector<std::string>{"glfw-init", "create 1101 680x80", "create 1102 680x80",
                                        "release-context", "render-thread"}));
    ASSERT_EQ(sink.errorBoxes().size(), 1u);
    EXPECT_EQ(sink.errorBoxes()[0], L"Failed to create Spectrum GL window");
    EXPECT_EQ(glfwSpectrumWin, nullptr);
    glfwWaveformWin = nullptr;
}

TEST(Commands, RecordingEndToEndWithAScriptedDevice) {
    resetSharedState();
    RecordingMessaging sink;
    TempDir dir;
    FakeScript script;
    script.packets.push_back(floatPacket(std::vector<float>(480, 0.25f), 1));
    activeFakeScript = &script;
    setCaptureSourceFactory(makeFakeCaptureSource);
    FakeShell shell;
    shell.realThreads = true;
    const std::wstring path = dir.path().wstring() + L"/take.wav";
    shell.dialogAnswers = {path};
    onCommand(shell, IDC_START_RECORDING);
    for (int i = 0; i < 5000 && sink.count(WM_APP_RECORDING_DONE) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(sink.count(WM_APP_RECORDING_DONE), 1u);
    for (const auto& m : sink.posted()) onAppMessage(shell, m.msg, m.wParam);
    EXPECT_EQ(shell.status, L"Saved to: " + path);
    EXPECT_EQ(readFileBytes(dir.file("take.wav")).size(), 44u + 960);
    EXPECT_EQ(std::count(shell.events.begin(), shell.events.end(), "invalidate"), 1);
    EXPECT_EQ(shell.activity, L"Recorded 0:00 · 48 kHz, 1 channel · 0.0 MB");
}

TEST(Commands, TheInputChoiceAppliesAtTheNextStartAndFollowsTheDevices) {
    resetSharedState();
    RecordingMessaging sink;
    FakeShell shell;
    DeviceSnapshot devices;
    devices.defaultInputId = "builtin";
    devices.inputs = {{"builtin", L"Built-in", false}, {"usb", L"USB Microphone", false}};
    devices.outputs = {{"speakers.monitor", L"Speakers"}};
    onDevicesChanged(shell, devices);
    ASSERT_EQ(shell.inputs.size(), 4u);
    EXPECT_EQ(shell.inputs[0], L"Default input: Built-in");

    // The choice goes with the next Start; the list is off during the take.
    onInputChosen(shell, 2);
    shell.dialogAnswers = {L"/tmp/a.wav"};
    onCommand(shell, IDC_START_RECORDING);
    ASSERT_EQ(shell.recordedInputs.size(), 1u);
    EXPECT_EQ(shell.recordedInputs[0].id, "usb");
    EXPECT_FALSE(shell.inputEnabled);
    recordingThreadActive.store(true);
    isRecording.store(true);
    onInputChosen(shell, 3);
    EXPECT_EQ(inputChooser.chosen().id, "usb") << "no change during a take";
    takeRecorded(shell, 42);
    EXPECT_EQ(shell.activity, L"Recording 0:42 from USB Microphone · 48 kHz, 1 channel · 3.8 MB");

    // Its device goes: the list falls back at once, the take's end says what happened.
    devices.inputs.pop_back();
    onDevicesChanged(shell, devices);
    EXPECT_EQ(shell.chosenInput, 0u);
    EXPECT_EQ(shell.status, L"Ready");
    isRecording.store(false);
    recordingThreadActive.store(false);
    onAppMessage(shell, WM_APP_RECORDING_DONE, static_cast<std::uintptr_t>(RecordingOutcome::DeviceRemoved));
    EXPECT_EQ(shell.status, L"Saved to: /tmp/a.wav (the input USB Microphone was removed)");
    EXPECT_TRUE(shell.inputEnabled);

    // Between takes a chosen device that goes is named on the status line.
    onInputChosen(shell, 2);
    onDevicesChanged(shell, DeviceSnapshot{});
    EXPECT_EQ(shell.status, L"Input removed: System sound: Speakers. Recording from the default input.");
    EXPECT_EQ(shell.inputs, std::vector<std::wstring>{L"Default input"});
}

// A real playback thread on an output that plays nothing, so it runs until a command ends it.
TEST(Commands, PlayShowsTheLastTakeUntilACommandEndsItAndNeverDuringATake) {
    resetSharedState();
    RecordingMessaging sink;
    TempDir dir;
    FakeOutputScript output;
    output.playing = false;
    activeFakeOutput = &output;
    setPlaybackOutputFactory(makeFakePlaybackOutput);
    {
        std::ofstream take(dir.file("take.wav"), std::ios::binary);
        writeWavHeader(take, 48000, 16, 1, 2 * 48000 * 65, false);
        take << std::string(2 * 48000 * 65, '\0');
    }
    savePath = dir.file("take.wav").wstring();
    FakeShell shell;
    shell.realThreads = true;
    std::size_t delivered = 0;
    // Runs `command`, waits for the next `msg` and hands everything posted so far to the window.
    const auto act = [&](const std::function<void()>& command, unsigned msg) {
        const std::size_t seen = sink.count(msg);
        command();
        for (int i = 0; i < 5000 && sink.count(msg) == seen; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        for (const auto posted = sink.posted(); delivered < posted.size(); ++delivered)
            onAppMessage(shell, posted[delivered].msg, posted[delivered].wParam);
    };
    const auto play = [&] { onCommand(shell, IDC_PLAY); };
    isRecording.store(true);
    play();
    EXPECT_EQ(activityLine.playback(), 0u) << "Play during a take does nothing";
    isRecording.store(false);

    const std::function<void()> enders[] = {[&] { onCommand(shell, IDC_STOP); }, play,
                                            [&] { onCommand(shell, IDC_START_RECORDING); },   // cancelled
                                            [&] { onClose(shell); }};
    for (const auto& end : enders) {
        fillDisplayBuffers();
        act(play, WM_APP_PLAYBACK_PROGRESS);
        EXPECT_TRUE(displayBuffersEmpty()) << "cleared as at Start";
        EXPECT_EQ(shell.activity, L"Playing 0:00 of 1:05");
        act(end, WM_APP_PLAYBACK_DONE);
        EXPECT_EQ(shell.activity, L"") << "the take's figures again (none here)";
        EXPECT_EQ(shell.status, L"Ready");
    }

    // An export of the take during its playback: both on the line. Then the take is gone.
    act(play, WM_APP_PLAYBACK_PROGRESS);
    shell.dialogAnswers = {L"/out/x.mp3"};
    onCommand(shell, IDC_EXPORT_MP3);
    EXPECT_EQ(shell.exports.back().second, savePath);
    EXPECT_EQ(shell.activity, L"Playing 0:00 of 1:05 · Exporting x.mp3: 0 %");
    act([&] { onCommand(shell, IDC_STOP); }, WM_APP_PLAYBACK_DONE);
    savePath = dir.file("gone.wav").wstring();
    act(play, WM_APP_PLAYBACK_DONE);
    EXPECT_EQ(shell.status, L"Playback failed: could not open " + savePath);
    EXPECT_EQ(shell.activity, L"Exporting x.mp3: 0 %");
    waitForPlaybackThreads();
    setPlaybackOutputFactory(nullptr);
}

TEST(Commands, ActivityLineTexts) {
    EXPECT_EQ(durationText(48000 * 60 - 1, 48000), L"0:59");
    EXPECT_EQ(durationText(8000 * 600, 8000), L"10:00");
    EXPECT_EQ(durationText(384000ull * 3600, 384000), L"1:00:00");
    EXPECT_EQ(durationText(44100ull * (10 * 3600 + 62), 44100), L"10:01:02");
    EXPECT_EQ(formatText(48000, 2), L"48 kHz, 2 channels");
    EXPECT_EQ(formatText(44100, 1), L"44.1 kHz, 1 channel");
    EXPECT_EQ(formatText(11025, 8), L"11.025 kHz, 8 channels");
    EXPECT_EQ(megabytesText(44), L"0.0 MB");
    EXPECT_EQ(megabytesText(16 * 1048576 - 1), L"15.9 MB");
    EXPECT_EQ(megabytesText(0xFFFFFFFFull), L"4095.9 MB");
    // 48 kHz stereo: whole frames of the limit count; shown from 10 minutes (115200000 bytes) on.
    const std::uint64_t limit = WAV_MAX_DATA_BYTES - WAV_MAX_DATA_BYTES % 4;
    EXPECT_EQ(timeLeftText(limit - 115200004, WAV_MAX_DATA_BYTES, 48000, 2), L"");
    EXPECT_EQ(timeLeftText(limit - 115200000, WAV_MAX_DATA_BYTES, 48000, 2), L"10:00 left before the WAV size limit");
    EXPECT_EQ(timeLeftText(limit - 3, WAV_MAX_DATA_BYTES, 48000, 2), L"0:00 left before the WAV size limit");
    EXPECT_EQ(wholePercent(0, 0), 100);
    EXPECT_EQ(wholePercent(2, 3), 66);
    EXPECT_EQ(wholePercent(0xFFFFFFFFull, 0x100000000ull), 99);
    EXPECT_EQ(exportProgressText(L"a.mp3", 42), L"Exporting a.mp3: 42 %");
    EXPECT_EQ(announcementKey(L"Paused 1:05:09 · 44.1 kHz, 2 channels · Exporting b2.mp3: 7 %"),
              L"Paused # · # kHz, # channels · Exporting b#.mp#: # %");
    EXPECT_EQ(playingText(48000 * 13 - 1, 48000 * 65, 48000), L"Playing 0:12 of 1:05");
}

TEST(LevelMeter, BarRightEdgeOnThe60DbScale) {
    const std::pair<float, int> table[] = {{0.0f, 0},    {0.0005f, 0}, {0.001f, 0},
                                           {0.01f, 386}, {0.1f, 773},  {0.25f, 927},
                                           {0.5f, 1043}, {1.0f, 1160}, {4.0f, 1160}};
    for (const auto& [level, right] : table) EXPECT_EQ(levelBarRight(level, 0, 1160), right) << level;
    EXPECT_EQ(levelBarRight(0.1f, 20, 1180), 793) << "the bar starts at the left edge";
    EXPECT_EQ(levelBarRight(0.0f, 20, 1180), 20);
    // What a screen reader hears: whole dB on the same scale, told at most four times a second.
    const std::pair<float, int> readings[] = {{0.0f, -60}, {0.0009f, -60}, {0.354f, -9}, {0.3f, -10},
                                              {1.0f, 0}, {4.0f, 0}, {std::nanf(""), -60}};
    for (const auto& [level, dB] : readings) EXPECT_EQ(levelDecibels(level), dB) << level;
    EXPECT_EQ(levelReadingText(-9), L"-9 dB");
    LevelReadingPace pace;
    const std::tuple<int, std::int64_t, bool> steps[] = {{-60, 1000, true}, {-9, 1100, false}, {-9, 1300, true},
        {-12, 1400, false}, {-9, 1900, false}, {-12, 2000, true}, {-20, 2249, false}};
    for (const auto& [dB, ms, due] : steps) EXPECT_EQ(pace.due(dB, ms), due) << ms;
}
