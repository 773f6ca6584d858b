// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/level_meter.h"

#include <cmath>

float levelFraction(float level) {
    const float dB = 20.0f * std::log10(level + 1e-8f);
    float fraction = (60.0f + dB) / 60.0f;
    if (!(fraction >= 0.0f)) fraction = 0.0f;  // also catches NaN
    if (fraction > 1.0f) fraction = 1.0f;
    return fraction;
}

int levelBarRight(float level, int left, int right) {
    const int width = right - left;
    return static_cast<int>(static_cast<float>(width) * levelFraction(level)) + left;
}
