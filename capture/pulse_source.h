// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// PulseAudio capture of the server's default source (also PipeWire through pipewire-pulse).
#include <memory>

#include "capture/capture_source.h"

// CaptureSourceFactory for setCaptureSourceFactory. Called on the capture thread.
std::unique_ptr<CaptureSource> makePulseCaptureSource();
