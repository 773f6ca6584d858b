// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the WASAPI backends share: an HRESULT as a CaptureResult (negative = failed, as both are
// defined), and the release of a COM pointer each object owns. Windows backends only.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "capture/capture_source.h"

inline CaptureResult wasapiResult(HRESULT hr) { return static_cast<CaptureResult>(hr); }

template <typename T>
void releaseCom(T*& object) {
    if (object != nullptr) object->Release();
    object = nullptr;
}
