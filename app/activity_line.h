// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The activity line right of the buttons: what the recorder is doing, in one line of text. While
// a take records, its length (from the frames written, not the clock), format and file size, and
// the time left once the WAV size limit is less than 10 minutes away; after it, its final length
// and size; a playback's position in its place while it plays; clipping until the next Start; the
// running MP3 exports' progress, the last MP3 saved, and a close that waits for an export; a
// paused take. Every text the line shows, and the boxes that refuse a
// recording into an export's files, is made in activity_line.cpp. The text functions are pure;
// ActivityLine belongs to the GUI thread.
#include <cstdint>
#include <string>
#include <vector>

// A recording into the file a running export reads would truncate that export's source; one into
// the file it writes would be replaced by the MP3 when the export ends.
extern const wchar_t* const RECORDING_INTO_EXPORT_SOURCE_TEXT;
extern const wchar_t* const RECORDING_INTO_EXPORT_DESTINATION_TEXT;

// Whole seconds of `frames` at `sampleRate` (rounded down): "M:SS" below one hour, "H:MM:SS" from
// one hour on.
std::wstring durationText(std::uint64_t frames, std::int32_t sampleRate);
// "48 kHz, 2 channels", "44.1 kHz, 1 channel", "11.025 kHz, 8 channels".
std::wstring formatText(std::int32_t sampleRate, std::int32_t channels);
// The size in MB of 1,048,576 bytes (as Windows counts them, and as the "4 GB" limit is meant),
// one decimal, rounded down: "0.0 MB", "15.2 MB".
std::wstring megabytesText(std::uint64_t bytes);
// "9:59 left before the WAV size limit" once at most 10 minutes of audio fit before `dataLimit`
// (sample bytes, whole frames of it counted), else empty.
std::wstring timeLeftText(std::uint64_t dataBytes, std::uint64_t dataLimit, std::int32_t sampleRate,
                          std::int32_t channels);
// "Exporting name: 42 %" (`percent` of the source read).
std::wstring exportProgressText(const std::wstring& name, int percent);
// "Playing 0:12 of 1:05": `played` and `total` frames at `sampleRate`, as durationText.
std::wstring playingText(std::uint64_t played, std::uint64_t total, std::int32_t sampleRate);

// A take's figures as the capture thread publishes them (app_state.h, takeCounters).
struct TakeFigures {
    std::int32_t sampleRate = 0;
    std::int32_t channels = 0;
    std::uint64_t dataBytes = 0;   // sample bytes written, header not counted
    std::uint64_t dataLimit = 0;   // sample bytes the file may hold
    bool clipped = false;          // a sample reached full scale before the clamp
};

// What the line says, kept from the GUI thread's messages. Each update returns true when the
// line's text may have changed.
class ActivityLine {
public:
    // Start: the take shown so far and its clipping go; the new take, from the input called
    // `inputName` (none: not named), shows once it records.
    void takeStarted(const std::wstring& inputName = {});
    // The input the take was started from.
    const std::wstring& takeInput() const { return input_; }
    // A level update: the take records. Redraws only when a quarter second more audio is written
    // or clipping appears, not for every packet. Figures without a format are ignored.
    bool takeRecording(const TakeFigures& figures);
    // The done message: a saved take shows its final figures, a failed one none.
    void takeEnded(const TakeFigures& figures, bool saved);
    // Pause and Resume: a paused take reads "Paused" where it read "Recording", its figures held
    // (nothing is written). Start and the take's end resume it.
    void takePaused(bool paused) { paused_ = paused; }

    // A new export to `destination` reading `source`; returns its id (never 0).
    std::uintptr_t exportStarted(const std::wstring& destination, const std::wstring& source);
    bool exportProgressed(std::uintptr_t id, int percent);
    // The export is over; `saved` when its MP3 is in place (a failure has its own error box).
    void exportFinished(std::uintptr_t id, bool saved);
    bool exporting() const { return !exports_.empty(); }
    // Why a take may not be recorded into `path`: it names a running export's source or
    // destination (the same file, or the same name when the file does not exist yet). Null when
    // it may.
    const wchar_t* recordingRefusal(const std::wstring& path) const;

    // Play: playback `id` runs. Once its first figures come, "Playing 0:12 of 1:05" stands in
    // place of the take's figures until it ends.
    void playbackStarted(std::uintptr_t id);
    // A progress message of playback `id` (others are ignored, false). Redraws only when the
    // whole seconds played change.
    bool playbackProgressed(std::uintptr_t id, std::uint64_t played, std::uint64_t total, std::int32_t sampleRate);
    // Playback `id` is over (the take's figures show again); false when it was not the one shown.
    bool playbackEnded(std::uintptr_t id);
    std::uintptr_t playback() const { return playback_; }   // 0 when none runs

    // The window was asked to close while exports run: it waits for them, and says so.
    void closeRequested() { closing_ = true; }
    void closeCancelled() { closing_ = false; }
    bool closing() const { return closing_; }

    std::wstring text() const;
    // The text, when it differs from the one last taken.
    bool takeNewText(std::wstring& text);
    // Whether `text`, just taken, is to be said aloud: what it says differs from the text said
    // last in more than its numbers (announcementKey, app/accessibility.h).
    bool worthAnnouncing(const std::wstring& text);

private:
    struct RunningExport {
        std::uintptr_t id;
        std::wstring name;     // the MP3's file name
        std::wstring destination;
        std::wstring source;
        int percent;
    };
    enum class TakePhase { None, Recording, Ended };

    TakePhase phase_ = TakePhase::None;
    TakeFigures take_;
    std::wstring input_;
    bool clipped_ = false;
    bool paused_ = false;
    std::uint64_t shownQuarter_ = 0;   // quarter seconds of audio in the last redraw
    std::vector<RunningExport> exports_;
    std::uintptr_t lastExportId_ = 0;
    std::wstring savedName_;           // the last export that finished, if it was saved
    bool closing_ = false;
    std::uintptr_t playback_ = 0;
    std::int32_t playbackRate_ = 0;    // 0 until the first figures
    std::uint64_t playbackPlayed_ = 0;
    std::uint64_t playbackTotal_ = 0;
    std::wstring shown_;
    std::wstring announced_;           // announcementKey of the text said last
};
