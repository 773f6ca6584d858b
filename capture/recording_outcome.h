// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <cstdint>

// How a recording ended; carried as the wParam of WM_APP_RECORDING_DONE.
enum class RecordingOutcome : std::uintptr_t {
    Saved = 0,              // stopped (or the device went away); file complete
    NoDevice = 1,           // no capture device, or it could not be opened or started
    FileCreateFailed = 2,   // the WAV file could not be created
    WriteFailed = 3,        // a write failed (disk full?); file finalised with what reached it
    SizeLimitReached = 4,   // the WAV size fields are full; file complete up to the limit
    BadFileName = 5,        // the path cannot be converted (unpaired UTF-16 surrogate)
    UnsupportedFormat = 6,  // the device's sample format is not float or 16/24/32-bit PCM
    InternalError = 7,      // an unexpected exception ended the run; file finalised if open
    DeviceRemoved = 8,      // the device went away while recording; file complete up to then
};

// A take whose file holds everything recorded: stopped, at the size limit, or its device gone.
inline bool takeComplete(RecordingOutcome o) {
    return o == RecordingOutcome::Saved || o == RecordingOutcome::SizeLimitReached || o == RecordingOutcome::DeviceRemoved;
}
