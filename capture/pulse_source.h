// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// PulseAudio capture of a source of the server, its default one unless another is chosen (also
// PipeWire through pipewire-pulse).
#include <chrono>
#include <memory>

#include "capture/capture_source.h"

// CaptureSourceFactory for setCaptureSourceFactory. Called on the capture thread.
std::unique_ptr<CaptureSource> makePulseCaptureSource();

// How long a running, unsuspended stream may deliver nothing (beyond its source's latency)
// before the source counts as lost; 5 s unless changed. For tests; sources made afterwards
// use it. Any thread.
void setPulseStallLimit(std::chrono::milliseconds limit);
