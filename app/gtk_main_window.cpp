// SPDX-License-Identifier: GPL-3.0-or-later
// The GTK main window: layout, texts and control ids as on Win32, signals translated into the
// portable command logic (app/commands.h). GTK thread only.
#include <exception>
#include <fstream>
#include <string>
#include <utility>

#include "app/accessibility.h"
#include "app/app_state.h"
#include "app/gtk_shell.h"
#include "app/keyboard.h"
#include "app/save_dialog.h"
#include "app/ws2s.h"

namespace {

constexpr char WINDOW_TITLE[] = "Sonabel with FFT";
constexpr char CONTROL_ID_KEY[] = "sonabel-control-id";

// Win32 paints the window with COLOR_WINDOW (white); do the same so the level meter's background
// and the window's agree, whatever the GTK theme. A Win32 control is exactly as big as created;
// GTK themes give buttons a minimum size, padding and margins (Adwaita: 34 px tall, "Export MP3"
// 108 px wide), so the controls drop them and each gets precisely its size request.
constexpr char WINDOW_CSS[] =
    "window.sonabel-main { background-color: #ffffff; }"
    ".sonabel-control { min-width: 0; min-height: 0; padding: 0; margin: 0; }"
    // The drop-down's own button would make it taller than the 30 pixels it is given.
    ".sonabel-control button { min-height: 0; padding-top: 0; padding-bottom: 0; }";

HWND asHwnd(GtkWidget* widget) { return reinterpret_cast<HWND>(widget); }

// A style provider added to a widget applies to that widget only, not to its children.
void addStyle(GtkWidget* widget, GtkCssProvider* css, const char* styleClass) {
    GtkStyleContext* style = gtk_widget_get_style_context(widget);
    gtk_style_context_add_class(style, styleClass);
    gtk_style_context_add_provider(style, GTK_STYLE_PROVIDER(css),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

// Holds a control at its size request whatever the theme; a button's label may then be cut
// short with an ellipsis (a larger font) instead of widening the button.
void fixControlSize(HWND control, GtkCssProvider* css) {
    GtkWidget* widget = reinterpret_cast<GtkWidget*>(control);
    addStyle(widget, css, "sonabel-control");
    if (GTK_IS_BUTTON(widget)) {
        GtkWidget* label = gtk_bin_get_child(GTK_BIN(widget));
        if (GTK_IS_LABEL(label)) gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
    }
}

void place(GtkWidget* fixed, GtkWidget* child, int x, int y, int width, int height) {
    gtk_widget_set_size_request(child, width, height);
    gtk_fixed_put(GTK_FIXED(fixed), child, x, y);
}

// A button's text with '_' before the letter Alt presses it by, which GTK underlines while Alt
// is held (the text shown is the same).
std::string mnemonicLabel(int id, bool paused = false) { return ws2s(buttonMnemonicText(id, L'_', paused)); }

GtkWidget* button(GtkWidget* fixed, int id, int x, int y, int width, GCallback onClick, gpointer self) {
    GtkWidget* b = gtk_button_new_with_mnemonic(mnemonicLabel(id).c_str());
    g_object_set_data(G_OBJECT(b), CONTROL_ID_KEY, GINT_TO_POINTER(id));
    g_signal_connect(b, "clicked", onClick, self);
    place(fixed, b, x, y, width, 30);
    return b;
}

// A GL container must own an X window of its own: the GLFW view is reparented into it.
GtkWidget* glContainer(GtkWidget* fixed, int id, int y) {
    GtkWidget* area = gtk_drawing_area_new();   // has its own GdkWindow
    g_object_set_data(G_OBJECT(area), CONTROL_ID_KEY, GINT_TO_POINTER(id));
    place(fixed, area, 20, y, GL_VIEW_FULL_WIDTH, GL_VIEW_HEIGHT);
    return area;
}

// A one-line label that clips its text at its width, as a Win32 static does, instead of growing.
GtkWidget* clippedLabel(const char* text) {
    GtkWidget* label = gtk_label_new(text);
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
    gtk_label_set_max_width_chars(GTK_LABEL(label), 1);
    return label;
}

// Sets a label's text from a wide string and, when `logPath` is set, appends what the label now
// holds to that file.
void setLabelText(GtkWidget* label, const std::wstring& text, const std::string& logPath) {
    std::string utf8;
    try {
        utf8 = ws2s(text);
    } catch (const std::exception&) {
        utf8 = "(the path cannot be shown)";   // an unpaired surrogate; GTK needs valid UTF-8
    }
    if (label != nullptr) gtk_label_set_text(GTK_LABEL(label), utf8.c_str());
    if (!logPath.empty()) {
        std::ofstream log(logPath, std::ios::app | std::ios::binary);
        log << (label != nullptr ? gtk_label_get_text(GTK_LABEL(label)) : utf8.c_str()) << '\n';
    }
}

}  // namespace

GtkMainWindowShell::GtkMainWindowShell(std::string statusLogPath, std::string activityLogPath)
    : statusLogPath_(std::move(statusLogPath)), activityLogPath_(std::move(activityLogPath)) {}

void GtkMainWindowShell::create() {
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window_), WINDOW_TITLE);
    gtk_window_set_default_size(GTK_WINDOW(window_), MAIN_WINDOW_WIDTH, MAIN_WINDOW_HEIGHT);
    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css, WINDOW_CSS, -1, nullptr);
    addStyle(window_, css, "sonabel-main");
    g_signal_connect(window_, "delete-event", G_CALLBACK(onDeleteEvent), this);
    g_signal_connect(window_, "destroy", G_CALLBACK(onDestroySignal), this);

    GtkWidget* fixed = gtk_fixed_new();
    gtk_container_add(GTK_CONTAINER(window_), fixed);
    const GCallback click = G_CALLBACK(onButtonClicked);
    hwndStart = asHwnd(button(fixed, IDC_START_RECORDING, 20, 20, 140, click, this));
    hwndStop = asHwnd(button(fixed, IDC_STOP, 180, 20, 80, click, this));
    hwndExportMP3 = asHwnd(button(fixed, IDC_EXPORT_MP3, 270, 20, 90, click, this));

    // The two lines are status bars for a screen reader, each named by its text.
    status_ = clippedLabel("Ready");
    gtk_label_set_yalign(GTK_LABEL(status_), 0.0f);
    place(fixed, status_, 20, 60, GL_VIEW_FULL_WIDTH, 20);
    describeForScreenReaders(status_, ATK_ROLE_STATUSBAR, nullptr, nullptr);
    hwndStatus = asHwnd(status_);

    meter_ = newLevelMeter();
    g_object_set_data(G_OBJECT(meter_), CONTROL_ID_KEY, GINT_TO_POINTER(IDC_VOLUME_METER));
    g_signal_connect(meter_, "draw", G_CALLBACK(paintLevelMeter), &meterBar_);
    place(fixed, meter_, 20, 90, GL_VIEW_FULL_WIDTH, 20);
    hwndVolumeMeter = asHwnd(meter_);

    hwndWaveformGLContainer = asHwnd(glContainer(fixed, IDC_WAVEFORM_GL, 120));
    hwndSpectrumGLContainer = asHwnd(glContainer(fixed, IDC_SPECTRUM_GL, 210));
    describeForScreenReaders(reinterpret_cast<GtkWidget*>(hwndWaveformGLContainer), ATK_ROLE_CHART,
                             WAVEFORM_VIEW_NAME, WAVEFORM_VIEW_DESCRIPTION);
    describeForScreenReaders(reinterpret_cast<GtkWidget*>(hwndSpectrumGLContainer), ATK_ROLE_CHART,
                             SPECTROGRAM_VIEW_NAME, SPECTROGRAM_VIEW_DESCRIPTION);

    // The activity line in the free space right of the buttons, centred on them vertically.
    activity_ = clippedLabel("");
    g_object_set_data(G_OBJECT(activity_), CONTROL_ID_KEY, GINT_TO_POINTER(IDC_ACTIVITY));
    place(fixed, activity_, ACTIVITY_X, 20, ACTIVITY_WIDTH, 30);
    describeForScreenReaders(activity_, ATK_ROLE_STATUSBAR, nullptr, nullptr);
    hwndActivity = asHwnd(activity_);

    // The input chooser below the spectrum view.
    GtkWidget* inputLabel = clippedLabel(ws2s(INPUT_LABEL_TEXT).c_str());
    g_object_set_data(G_OBJECT(inputLabel), CONTROL_ID_KEY, GINT_TO_POINTER(IDC_INPUT_LABEL));
    place(fixed, inputLabel, 20, 305, 100, 20);
    hwndInputLabel = asHwnd(inputLabel);
    input_ = gtk_combo_box_text_new();
    g_object_set_data(G_OBJECT(input_), CONTROL_ID_KEY, GINT_TO_POINTER(IDC_INPUT_CHOICE));
    place(fixed, input_, 130, 300, 450, 30);
    gtk_label_set_mnemonic_widget(GTK_LABEL(inputLabel), input_);   // the label names the list
    inputChanged_ = g_signal_connect(input_, "changed", G_CALLBACK(onInputChanged), this);
    hwndInputChoice = asHwnd(input_);
    pause_ = button(fixed, IDC_PAUSE, 370, 20, 90, click, this);
    hwndPause = asHwnd(pause_);
    hwndPlay = asHwnd(button(fixed, IDC_PLAY, 470, 20, 90, click, this));
    g_signal_connect(window_, "key-press-event", G_CALLBACK(onKeyPress), this);
    for (HWND control : {hwndStart, hwndStop, hwndExportMP3, hwndStatus, hwndVolumeMeter,
                         hwndWaveformGLContainer, hwndSpectrumGLContainer, hwndActivity, hwndInputLabel,
                         hwndInputChoice, hwndPause, hwndPlay})
        fixControlSize(control, css);
    g_object_unref(css);   // each style context keeps its own reference
    hwndMain = asHwnd(window_);
}

void GtkMainWindowShell::show() {
    gtk_widget_show_all(window_);
    // Let GTK allocate and realize everything, so the containers have their X windows and sizes.
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
    gdk_display_sync(gtk_widget_get_display(window_));
}

gboolean GtkMainWindowShell::onDeleteEvent(GtkWidget*, GdkEvent*, gpointer self) {
    onClose(*static_cast<GtkMainWindowShell*>(self));
    return TRUE;   // the command logic decides; GTK must not destroy the window by itself
}

void GtkMainWindowShell::onDestroySignal(GtkWidget*, gpointer self) {
    // Runs before GTK tears down the children, so the containers' X windows (the GL views'
    // parents) still exist while the views are destroyed.
    auto* shell = static_cast<GtkMainWindowShell*>(self);
    onDestroy(*shell);
    shell->window_ = nullptr;
    shell->status_ = nullptr;
    shell->activity_ = nullptr;
    shell->meter_ = nullptr;
    shell->pause_ = nullptr;
    shell->input_ = nullptr;
}

void GtkMainWindowShell::onInputChanged(GtkComboBox* box, gpointer self) {
    const gint index = gtk_combo_box_get_active(box);
    if (index >= 0) onInputChosen(*static_cast<GtkMainWindowShell*>(self), static_cast<std::size_t>(index));
}

void GtkMainWindowShell::onButtonClicked(GtkButton* button, gpointer self) {
    const int id = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), CONTROL_ID_KEY));
    onCommand(*static_cast<GtkMainWindowShell*>(self), static_cast<std::uintptr_t>(id));
}

gboolean GtkMainWindowShell::onKeyPress(GtkWidget*, GdkEventKey* event, gpointer self) {
    // Alt alone among the modifiers GTK counts (not Num Lock); handled before GTK's own
    // mnemonics, so Alt+P also resumes while the button reads "Resume".
    if ((event->state & gtk_accelerator_get_default_mod_mask()) != GDK_MOD1_MASK) return FALSE;
    const int id = mnemonicCommand(gdk_keyval_to_unicode(gdk_keyval_to_lower(event->keyval)));
    if (id == 0) return FALSE;
    onCommand(*static_cast<GtkMainWindowShell*>(self), static_cast<std::uintptr_t>(id));
    return TRUE;
}

std::wstring GtkMainWindowShell::browseSavePath() { return ::browseSavePath(asHwnd(window_)); }

void GtkMainWindowShell::setStatusText(const std::wstring& text) {
    setLabelText(status_, text, statusLogPath_);
}

void GtkMainWindowShell::setActivityText(const std::wstring& text) {
    setLabelText(activity_, text, activityLogPath_);
}

void GtkMainWindowShell::showInputList(const std::vector<std::wstring>& labels, std::size_t chosen) {
    if (input_ == nullptr) return;
    g_signal_handler_block(input_, inputChanged_);
    GtkComboBoxText* box = GTK_COMBO_BOX_TEXT(input_);
    gtk_combo_box_text_remove_all(box);
    for (const std::wstring& label : labels) {
        std::string utf8;
        try {
            utf8 = ws2s(label);
        } catch (const std::exception&) {
            utf8 = "?";   // not from a device name the server gave as UTF-8
        }
        gtk_combo_box_text_append_text(box, utf8.c_str());
    }
    gtk_combo_box_set_active(GTK_COMBO_BOX(input_), static_cast<gint>(chosen));
    g_signal_handler_unblock(input_, inputChanged_);
}

void GtkMainWindowShell::enableInputList(bool enabled) {
    if (input_ != nullptr) gtk_widget_set_sensitive(input_, enabled);
}

void GtkMainWindowShell::announce(HWND line, const std::wstring& text) {
    if (window_ != nullptr) announceFrom(reinterpret_cast<GtkWidget*>(line), text);
}

void GtkMainWindowShell::showPauseButton(bool paused) {
    if (pause_ == nullptr) return;
    gtk_button_set_label(GTK_BUTTON(pause_), mnemonicLabel(IDC_PAUSE, paused).c_str());
    // GTK may make a new label for the new text: it is cut short as the first was.
    GtkWidget* label = gtk_bin_get_child(GTK_BIN(pause_));
    if (GTK_IS_LABEL(label)) gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
}

void GtkMainWindowShell::levelReadingChanged() {
    if (meter_ != nullptr) notifyLevelReading(meter_);
}

void GtkMainWindowShell::invalidateLevelMeter() {
    if (meter_ != nullptr &&
        meterBar_.moved(currentLevel.load(), 0, gtk_widget_get_allocated_width(meter_)))
        gtk_widget_queue_draw(meter_);
}

void GtkMainWindowShell::destroyMainWindow() {
    if (window_ != nullptr) gtk_widget_destroy(window_);   // emits "destroy" -> onDestroy
}

void GtkMainWindowShell::postQuit() {
    // Not yet inside gtk_main when the window is closed during the start-up error box.
    if (gtk_main_level() > 0) gtk_main_quit();
}
