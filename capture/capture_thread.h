// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <cstdint>
#include <string>

#include "app/app_types.h"
#include "capture/capture_source.h"

// The platform's capture source; installed by the shell before the first Start.
void setCaptureSourceFactory(CaptureSourceFactory factory);

// Body of the detached capture thread: records `endpoint` (the default input, a device, or what
// an output plays) to a 16-bit PCM WAV file at `path` until isRecording is cleared, then
// finalises the header. While isPaused is set the packets are read and dropped: only the level
// meter shows them. On every path it clears recordingThreadActive and then posts
// WM_APP_RECORDING_DONE (wParam = RecordingOutcome) to hwnd, exactly once.
void recordAudioToWav(std::wstring path, HWND hwnd, CaptureEndpoint endpoint);

// Largest data size a recording may reach (whole frames below it are written). Defaults to what
// the 32-bit header fields can describe; tests lower it. Set before a recording starts.
void setWavDataLimit(std::uint64_t bytes);
