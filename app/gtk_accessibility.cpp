// SPDX-License-Identifier: GPL-3.0-or-later
// The GTK shell for screen readers (ATK, which GTK's bridge serves over AT-SPI): the level meter
// as a level indicator with its reading, the views' names and descriptions, the status and
// activity lines as status bars, and announcements. GTK thread only.
#include <gtk/gtk-a11y.h>

#include <exception>
#include <initializer_list>
#include <string>

#include "app/accessibility.h"
#include "app/app_state.h"
#include "app/gtk_shell.h"
#include "app/ws2s.h"

namespace {

std::string utf8(const std::wstring& text) {
    try {
        return ws2s(text);
    } catch (const std::exception&) {
        return {};   // an unpaired surrogate (a path): nothing said rather than wrong bytes
    }
}

// The meter's reading, read afresh whenever a screen reader asks: the level in whole dBFS on the
// meter's scale, and the same as text ("-9 dB").
void levelValueAndText(AtkValue*, gdouble* value, gchar** text) {
    const int dB = levelDecibels(currentLevel.load());
    if (value != nullptr) *value = dB;
    if (text != nullptr) *text = g_strdup(utf8(levelReadingText(dB)).c_str());
}

AtkRange* levelRange(AtkValue*) { return atk_range_new(LEVEL_READING_FLOOR_DB, 0.0, "dBFS"); }

gdouble levelIncrement(AtkValue*) { return 1.0; }

void levelValueInit(gpointer iface, gpointer) {
    auto* value = static_cast<AtkValueIface*>(iface);
    value->get_value_and_text = levelValueAndText;
    value->get_range = levelRange;
    value->get_increment = levelIncrement;
}

// GtkWidgetAccessible with the AtkValue interface, for the meter.
GType levelMeterAccessibleType() {
    static const GType type = [] {
        GTypeQuery parent;
        g_type_query(GTK_TYPE_WIDGET_ACCESSIBLE, &parent);
        const GType t = g_type_register_static_simple(GTK_TYPE_WIDGET_ACCESSIBLE, "SonabelLevelMeterAccessible",
                                                      parent.class_size, nullptr, parent.instance_size,
                                                      nullptr, static_cast<GTypeFlags>(0));
        const GInterfaceInfo value{levelValueInit, nullptr, nullptr};
        g_type_add_interface_static(t, ATK_TYPE_VALUE, &value);
        return t;
    }();
    return type;
}

// A drawing area whose accessible is the one above: GTK makes a widget's accessible from its class.
GType levelMeterType() {
    static const GType type = [] {
        GTypeQuery parent;
        g_type_query(GTK_TYPE_DRAWING_AREA, &parent);
        return g_type_register_static_simple(
            GTK_TYPE_DRAWING_AREA, "SonabelLevelMeter", parent.class_size,
            [](gpointer widgetClass, gpointer) {
                gtk_widget_class_set_accessible_type(GTK_WIDGET_CLASS(widgetClass), levelMeterAccessibleType());
                gtk_widget_class_set_accessible_role(GTK_WIDGET_CLASS(widgetClass), ATK_ROLE_LEVEL_BAR);
            },
            parent.instance_size, nullptr, static_cast<GTypeFlags>(0));
    }();
    return type;
}

// The emission's parameter types, when `signal` exists on AtkObject with exactly these.
bool atkSignalTakes(const char* signal, std::initializer_list<GType> params) {
    const guint id = g_signal_lookup(signal, ATK_TYPE_OBJECT);
    if (id == 0) return false;
    GSignalQuery query;
    g_signal_query(id, &query);
    if (query.n_params != params.size()) return false;
    guint i = 0;
    for (GType p : params)
        if ((query.param_types[i++] & ~G_SIGNAL_TYPE_STATIC_SCOPE) != p) return false;
    return true;
}

}  // namespace

GtkWidget* newLevelMeter() {
    GtkWidget* meter = GTK_WIDGET(g_object_new(levelMeterType(), nullptr));
    describeForScreenReaders(meter, ATK_ROLE_LEVEL_BAR, INPUT_LEVEL_NAME, INPUT_LEVEL_DESCRIPTION);
    return meter;
}

void describeForScreenReaders(GtkWidget* widget, AtkRole role, const wchar_t* name, const wchar_t* description) {
    AtkObject* accessible = gtk_widget_get_accessible(widget);
    atk_object_set_role(accessible, role);
    if (name != nullptr) atk_object_set_name(accessible, utf8(name).c_str());
    if (description != nullptr) atk_object_set_description(accessible, utf8(description).c_str());
}

void notifyLevelReading(GtkWidget* meter) {
    // What GTK's own value widgets do; the bridge sends it on as a change of the value.
    g_object_notify(G_OBJECT(gtk_widget_get_accessible(meter)), "accessible-value");
}

void announceFrom(GtkWidget* widget, const std::wstring& text) {
    // Only newer ATK can ask a screen reader to say a text (the signals below, looked up while
    // running, so the build takes any ATK); with an older one the label's own text change is all
    // it gets, which a screen reader reads when asked for the status bar.
    AtkObject* accessible = gtk_widget_get_accessible(widget);
    const std::string said = utf8(text);
    if (atkSignalTakes("notification", {G_TYPE_STRING, G_TYPE_INT}))
        g_signal_emit_by_name(accessible, "notification", said.c_str(), 1);   // ATK_LIVE_POLITE
    else if (atkSignalTakes("announcement", {G_TYPE_STRING}))
        g_signal_emit_by_name(accessible, "announcement", said.c_str());
}
