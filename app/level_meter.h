// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Geometry of the level meter bar: the RMS level on a 60 dB scale, empty at -60 dBFS and
// below, full at 0 dBFS. Painting itself is per platform (GDI, cairo).

#include <climits>

// Bar colour: red 0, green 200, blue 0 (Win32 COLORREF 0x0000C800).
constexpr int LEVEL_BAR_RED = 0;
constexpr int LEVEL_BAR_GREEN = 200;
constexpr int LEVEL_BAR_BLUE = 0;

// Fill fraction in [0, 1] for a linear RMS level, in single precision.
float levelFraction(float level);

// Right edge of the bar in a meter rectangle from `left` to `right` (pixels): left plus the
// width times the fraction, truncated toward zero.
int levelBarRight(float level, int left, int right);

// The bar edge on screen: a level update needs a repaint only when the new level's edge differs
// from the painted one, since the paint would otherwise be pixel for pixel the same. GUI thread.
class LevelBarTracker {
public:
    bool moved(float level, int left, int right) const {
        return levelBarRight(level, left, right) != painted_;
    }
    void painted(int barRight) { painted_ = barRight; }

private:
    int painted_ = INT_MIN;   // nothing painted yet
};
