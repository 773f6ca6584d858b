// SPDX-License-Identifier: GPL-3.0-or-later
// GDI painting of the owner-drawn level meter. GUI thread (WM_DRAWITEM).
#include "app/app_state.h"
#include "app/level_meter.h"
#include "app/win32_shell.h"

namespace {

LevelBarTracker meterBar;   // GUI thread

}  // namespace

bool levelMeterBarMoved() {
    RECT rc;
    GetClientRect(hwndVolumeMeter, &rc);   // the rcItem of its WM_DRAWITEM
    return meterBar.moved(currentLevel.load(), rc.left, rc.right);
}

LRESULT paintLevelMeter(const DRAWITEMSTRUCT& item) {
    // The system colour brush is shared and never deleted.
    FillRect(item.hDC, &item.rcItem, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
    RECT bar = item.rcItem;
    bar.right = levelBarRight(currentLevel.load(), item.rcItem.left, item.rcItem.right);
    // The bar's brush lives within this paint only.
    HBRUSH green = CreateSolidBrush(RGB(LEVEL_BAR_RED, LEVEL_BAR_GREEN, LEVEL_BAR_BLUE));
    FillRect(item.hDC, &bar, green);
    meterBar.painted(bar.right);
    DeleteObject(green);
    return TRUE;
}
