// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The per-packet step of a recording: PCM16 to the WAV file, the waveform buffer, the FFT feed,
// the spectrogram's feed, the RMS level and the level notification; while paused, the level and
// its notification alone. Capture thread only; the display part (showPacket) is also the
// playback thread's, never at the same time as a capture thread's (the playback ends before a
// take starts and cannot start during one).
#include <cstddef>
#include <cstdint>
#include <ostream>

#include "app/app_types.h"

// Newest samples handed to the analysis each time at least this many have gathered.
constexpr std::size_t FFT_FEED_BLOCK = 1024;

// Clamp to [-1, 1], scale by 32767, truncate toward zero. NaN gives 0.
std::int16_t floatToPCM16(float x);

// `samples` holds frameCount * captureChannels interleaved floats. Appends their PCM16 form to
// `file` and adds the bytes to dataBytesWritten (the caller checks the stream for write errors).
// The selected sequence (channel 0 of a stereo packet, otherwise every sample) goes to
// waveformBufferL and fftInputBuffer (the red spectrum line's analysis); channel 0's frames go
// to spectrogramFeed; its RMS goes to currentLevel; WM_APP_LEVEL_UPDATE is posted to hwnd. A
// packet of zero frames leaves currentLevel unchanged.
// No heap allocation per packet once the capture thread's scratch buffers have grown.
void processCapturePacket(const float* samples, std::uint32_t frameCount,
                          std::int32_t captureChannels, std::ostream& file,
                          std::uint64_t& dataBytesWritten, HWND hwnd);

// A packet read while the take is paused: only its RMS goes to currentLevel (as above) and
// WM_APP_LEVEL_UPDATE is posted, so the meter keeps showing the input; the file, the views and
// the analyses get nothing of it, and the take's counters stay.
void showCapturePacketLevel(const float* samples, std::uint32_t frameCount,
                            std::int32_t captureChannels, HWND hwnd);

// The display part of processCapturePacket, for audio that is not written to a file (a take
// played back): the selected sequence to waveformBufferL and fftInputBuffer (analysed at
// `sampleRate`), channel 0's frames to spectrogramFeed, the RMS to currentLevel, then `message`
// with `wParam` posted to hwnd. Same rules and scratch storage as processCapturePacket, which
// calls it with globalSampleRate and WM_APP_LEVEL_UPDATE. Capture or playback thread.
void showPacket(const float* samples, std::uint32_t frameCount, std::int32_t channels,
                std::int32_t sampleRate, HWND hwnd, unsigned message, std::uintptr_t wParam);
