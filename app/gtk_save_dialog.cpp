// SPDX-License-Identifier: GPL-3.0-or-later
// The Save As dialog on GTK: GtkFileChooserDialog in save mode. GTK thread only.
#include <gtk/gtk.h>

#include <string>

#include "app/gtk_shell.h"
#include "app/save_dialog.h"
#include "app/ws2s.h"

namespace {

// GTK's chooser already refuses a name in a folder that does not exist; this guards the
// accepted path as well, so such a name never comes back whatever the GTK version does.
bool folderExists(const char* path) {
    gchar* folder = g_path_get_dirname(path);
    const bool exists = g_file_test(folder, G_FILE_TEST_IS_DIR);
    g_free(folder);
    return exists;
}

// GTK 3's patterns match case-sensitively, Windows' do not: "*.wav" becomes "*.[wW][aA][vV]",
// so X.WAV and y.Mp3 are listed as well.
std::string anyCase(const char* pattern) {
    std::string out;
    for (const char* c = pattern; *c != '\0'; ++c) {
        if (g_ascii_isalpha(*c)) {
            out += '[';
            out += g_ascii_tolower(*c);
            out += g_ascii_toupper(*c);
            out += ']';
        } else {
            out += *c;
        }
    }
    return out;
}

// Keeps the Save As dialog open with a warning about `name` on top of it.
void refuse(GtkWidget* dialog, const char* name, const char* why) {
    gchar* shown = g_filename_display_name(name);   // valid UTF-8 whatever the bytes
    GtkWidget* refusal = gtk_message_dialog_new(GTK_WINDOW(dialog), GTK_DIALOG_MODAL,
                                                GTK_MESSAGE_WARNING, GTK_BUTTONS_OK, "%s\n%s",
                                                shown, why);
    g_free(shown);
    gtk_dialog_run(GTK_DIALOG(refusal));
    gtk_widget_destroy(refusal);
}

}  // namespace

GtkFileFilter* newFileFilter(const char* name, const char* const* patterns) {
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, name);
    for (const char* const* p = patterns; *p != nullptr; ++p)
        gtk_file_filter_add_pattern(filter, anyCase(*p).c_str());
    return filter;
}

const char* savePathRefusal(const char* name) {
    // The path travels on as wide text, which cannot hold such bytes: it would come back as
    // another name than the one chosen (and whose replacing the user confirmed).
    if (!g_utf8_validate(name, -1, nullptr))
        return "This name is not valid UTF-8 text and cannot be used. Choose another name or folder.";
    if (!folderExists(name)) return "The folder does not exist. Check the path and try again.";
    return nullptr;
}

std::wstring browseSavePath(HWND owner) {
    GtkWindow* parent = owner ? GTK_WINDOW(reinterpret_cast<GtkWidget*>(owner)) : nullptr;
    // "Save As" is the title the Win32 dialog shows when the caller gives none.
    GtkWidget* dialog = gtk_file_chooser_dialog_new("Save As", parent, GTK_FILE_CHOOSER_ACTION_SAVE,
                                                    "_Cancel", GTK_RESPONSE_CANCEL, "_Save",
                                                    GTK_RESPONSE_ACCEPT, nullptr);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
    gtk_file_chooser_set_local_only(chooser, TRUE);
    static const char* const all[] = {"*", nullptr};
    gtk_file_chooser_add_filter(chooser, newFileFilter("Audio Files", AUDIO_FILE_PATTERNS));
    gtk_file_chooser_add_filter(chooser, newFileFilter("All Files", all));   // it takes them
    // The first filter added is the selected one; no name and no extension are set.

    std::wstring result;
    for (;;) {
        if (gtk_dialog_run(GTK_DIALOG(dialog)) != GTK_RESPONSE_ACCEPT) break;
        gchar* name = gtk_file_chooser_get_filename(chooser);   // the on-disk bytes
        if (name == nullptr) continue;
        if (const char* why = savePathRefusal(name)) {
            refuse(dialog, name, why);
        } else {
            result = utf8ToWide(name);
            g_free(name);
            break;
        }
        g_free(name);   // refused: the Save As dialog stays open
    }
    gtk_widget_destroy(dialog);
    return result;
}
