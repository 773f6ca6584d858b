// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Reading back a WAV file the recorder wrote: the checks the MP3 export and the playback share.
// Any thread; each caller has its own stream.
#include <cstdint>
#include <fstream>
#include <string>

#include "capture/wav_header.h"

enum class WavReadFailure {
    None,
    BadFileName,     // the path cannot be converted (unpaired UTF-16 surrogate)
    OpenFailed,      // no such file, or it cannot be opened for reading
    NotRecorderWav,  // shorter than a header, not RIFF/WAVE, not 16-bit integer PCM, or no channel
                     // or more than the caller takes
};

// Opens `path` read-only and reads its 44-byte header into `header`. None when `in` is open at
// the first sample and the header describes 16-bit integer PCM of 1 to `maxChannels` channels.
// The header's sizes are not checked: the samples run to the end of the file, so a take whose
// header still holds the placeholder (the recorder was killed) reads fully, and neither a huge
// size field nor a file over 2 or 4 GB is a reason to refuse it.
WavReadFailure openRecordedWav(const std::wstring& path, std::ifstream& in, WAVHeader& header,
                               std::uint32_t maxChannels);

// Sample bytes after the header, from the file's size now (0 when it is unknown or shorter).
std::uint64_t wavSampleBytes(const std::wstring& path);
