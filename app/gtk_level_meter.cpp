// SPDX-License-Identifier: GPL-3.0-or-later
// The level meter painted with cairo: window background, then the green bar from the left edge
// to levelBarRight of the last stored level, full height. GTK thread ("draw" signal).
#include "app/app_state.h"
#include "app/gtk_shell.h"
#include "app/level_meter.h"

int paintLevelMeterRect(cairo_t* cr, int width, int height, float level) {
    // Background: white, the window colour the main window is painted with (see its CSS).
    cairo_set_source_rgb(cr, 1.0, 1.0, 1.0);
    cairo_rectangle(cr, 0, 0, width, height);
    cairo_fill(cr);
    const int right = levelBarRight(level, 0, width);
    if (right <= 0) return right;
    cairo_set_source_rgb(cr, LEVEL_BAR_RED / 255.0, LEVEL_BAR_GREEN / 255.0, LEVEL_BAR_BLUE / 255.0);
    cairo_rectangle(cr, 0, 0, right, height);
    cairo_fill(cr);
    return right;
}

gboolean paintLevelMeter(GtkWidget* meter, cairo_t* cr, gpointer bar) {
    static_cast<LevelBarTracker*>(bar)->painted(
        paintLevelMeterRect(cr, gtk_widget_get_allocated_width(meter),
                            gtk_widget_get_allocated_height(meter), currentLevel.load()));
    return TRUE;
}
