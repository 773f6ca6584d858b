// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// WASAPI playback to the default render endpoint (shared mode, the engine converting the format).
#include <memory>

#include "capture/playback_output.h"

// PlaybackOutputFactory for setPlaybackOutputFactory. Called on the playback thread, which the
// output joins to a single-threaded COM apartment for its lifetime.
std::unique_ptr<PlaybackOutput> makeWasapiPlaybackOutput();
