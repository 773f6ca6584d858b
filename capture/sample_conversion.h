// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A capture packet in the device's own sample format, as the interleaved floats the packet
// pipeline takes. Portable and pure apart from the scratch storage; capture thread.
#include <cstdint>
#include <vector>

#include "capture/capture_source.h"

// Turns `frames` frames of `f` into interleaved floats in [-1, 1). Float packets are used in
// place; silence (CAPTURE_FLAG_SILENT or null `data`) and integer PCM (16, packed 24, and 32-bit
// containers, whose 24 valid bits sit left-justified) go through `scratch`, which keeps its
// capacity between packets. Integers are scaled by their full range (32768, 2^23, 2^31), so the
// largest positive value arrives just below 1.0; `atFullScale` is set (never cleared) when an
// integer sample is at its maximum or minimum, which the float no longer tells.
const float* packetAsFloat(const void* data, std::uint32_t frames, std::uint32_t flags, const MixFormat& f,
                           std::vector<float>& scratch, bool& atFullScale);
