// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// WASAPI capture (shared mode, the endpoint's mix format) of the default capture endpoint, a
// chosen one, or a render endpoint's loopback (what it plays).
#include <memory>

#include "capture/capture_source.h"

struct tWAVEFORMATEX;

// CaptureSourceFactory for setCaptureSourceFactory. Called on the capture thread, which the
// source joins to a single-threaded COM apartment for its lifetime.
std::unique_ptr<CaptureSource> makeWasapiCaptureSource();

// What a mix format record says about the samples: IEEE float (plain or EXTENSIBLE subtype) is
// Float; PCM (plain or EXTENSIBLE subtype) is Pcm with wBitsPerSample as the container and, for
// EXTENSIBLE, Samples.wValidBitsPerSample as the valid bits; everything else is Other.
// Any thread.
MixFormat mixFormatFromWaveFormat(const tWAVEFORMATEX& format);
