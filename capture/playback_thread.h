// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Playing the last take through the default output device, on a thread of its own: the file is
// read in blocks and written to the output in its own rate and channel count, and each stretch
// the device has played goes to the same display path a capture packet goes to (showPacket), so
// the meter and the views follow what is heard. At most one playback shows at a time: a new one,
// or endPlayback, silences the one before at once (it ends within one poll).
#include <cstdint>
#include <string>

#include "app/app_types.h"
#include "capture/playback_output.h"

// How a playback ended; carried in WM_APP_PLAYBACK_DONE (messaging.h).
enum class PlaybackOutcome : unsigned {
    Finished = 0,           // played to the end of the file
    Stopped = 1,            // ended by endPlayback (Stop, Play again, Start Recording, close)
    BadFileName = 2,        // the path cannot be converted (unpaired UTF-16 surrogate)
    OpenFailed = 3,         // the file cannot be opened (deleted, moved, no permission)
    NotRecorderWav = 4,     // not a WAV file of 16-bit integer PCM (capture/wav_reader.h)
    UnsupportedFormat = 5,  // a sample rate or channel count outside what the outputs take
    NoDevice = 6,           // no output device, it could not be opened, or it never played
    DeviceLost = 7,         // the output failed, or stopped playing for PLAYBACK_STALL_SECONDS
    ReadFailed = 8,         // reading the file failed part-way
    InternalError = 9,      // an unexpected exception ended the playback
};

constexpr std::uint32_t PLAYBACK_MAX_CHANNELS = 32;      // PulseAudio's limit
constexpr std::uint32_t PLAYBACK_MIN_RATE = 1000;        // Hz
constexpr std::uint32_t PLAYBACK_MAX_RATE = 384000;      // Hz, the fastest capture devices
constexpr int PLAYBACK_STALL_SECONDS = 5;

// The playback's figures for the activity line, published before each progress message.
struct PlaybackFigures {
    std::int32_t sampleRate = 0;
    std::uint64_t totalFrames = 0;    // whole frames in the file when it was opened
    std::uint64_t playedFrames = 0;   // frames the device has played and the views have shown
};
// Any thread; the GUI thread reads them when a progress message of the running playback comes.
PlaybackFigures publishedPlaybackFigures();

// The platform's output; installed by the shell before the first Play. Any thread.
void setPlaybackOutputFactory(PlaybackOutputFactory factory);

// GUI thread. A new playback's id (never 0) for playWavFile; the one before, if any, is ended
// as by endPlayback.
std::uintptr_t beginPlayback();
// GUI thread. Ends the running playback: once this returns it shows nothing more (a stretch
// being shown is waited for, well under a millisecond), its sound stops within one poll (10 ms)
// and its thread posts WM_APP_PLAYBACK_DONE with Stopped. Without a playback, nothing happens.
void endPlayback();

// Body of the detached playback thread of playback `id` (beginPlayback): plays the WAV file at
// `path` (opened read-only, capture/wav_reader.h) from its start. Clears the spectrogram's feed
// and posts WM_APP_PLAYBACK_PROGRESS (wParam = id) once the output is open, then after every
// stretch of about 40 ms the device has played, once it is shown. On every path it posts
// WM_APP_PLAYBACK_DONE (wParam = exportMessageParam(id, PlaybackOutcome)) to hwnd, exactly once.
void playWavFile(std::wstring path, HWND hwnd, std::uintptr_t id);

// Playback threads alive, so the process can wait for them before it exits (a thread ended by
// endPlayback takes one poll and the release of its output).
void notePlaybackStarted();      // GUI thread, just before the thread is created
void notePlaybackFinished();     // playback thread, as its very last action (also when the thread
                                 // could not be created)
void waitForPlaybackThreads();   // any thread but a playback thread
