// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// PulseAudio playback to the server's default sink (also PipeWire through pipewire-pulse).
#include <memory>

#include "capture/playback_output.h"

// PlaybackOutputFactory for setPlaybackOutputFactory. Called on the playback thread.
std::unique_ptr<PlaybackOutput> makePulsePlaybackOutput();
