// The Save As dialog on GTK: GtkFileChooserDialog in save mode. GTK thread only.
#include <gtk/gtk.h>

#include <string>

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

void addFilter(GtkFileChooser* chooser, const char* name, const char* const* patterns) {
    GtkFileFilter* filter = gtk_file_filter_new();   // floating; the chooser takes it
    gtk_file_filter_set_name(filter, name);
    for (const char* const* p = patterns; *p != nullptr; ++p) gtk_file_filter_add_pattern(filter, *p);
    gtk_file_chooser_add_filter(chooser, filter);
}

}  // namespace

std::wstring browseSavePath(HWND owner) {
    GtkWindow* parent = owner ? GTK_WINDOW(reinterpret_cast<GtkWidget*>(owner)) : nullptr;
    // "Save As" is the title the Win32 dialog shows when the caller gives none.
    GtkWidget* dialog = gtk_file_chooser_dialog_new("Save As", parent, GTK_FILE_CHOOSER_ACTION_SAVE,
                                                    "_Cancel", GTK_RESPONSE_CANCEL, "_Save",
                                                    GTK_RESPONSE_ACCEPT, nullptr);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
    gtk_file_chooser_set_local_only(chooser, TRUE);
    static const char* const audio[] = {"*.wav", "*.mp3", nullptr};
    static const char* const all[] = {"*", nullptr};
    addFilter(chooser, "Audio Files", audio);
    addFilter(chooser, "All Files", all);
    // The first filter added is the selected one; no name and no extension are set.

    std::wstring result;
    for (;;) {
        if (gtk_dialog_run(GTK_DIALOG(dialog)) != GTK_RESPONSE_ACCEPT) break;
        gchar* name = gtk_file_chooser_get_filename(chooser);   // on-disk bytes, UTF-8 here
        if (name == nullptr) continue;
        if (folderExists(name)) {
            result = utf8ToWide(name);
            g_free(name);
            break;
        }
        GtkWidget* refusal = gtk_message_dialog_new(
            GTK_WINDOW(dialog), GTK_DIALOG_MODAL, GTK_MESSAGE_WARNING, GTK_BUTTONS_OK,
            "%s\nThe folder does not exist. Check the path and try again.", name);
        g_free(name);
        gtk_dialog_run(GTK_DIALOG(refusal));
        gtk_widget_destroy(refusal);   // refused: the Save As dialog stays open
    }
    gtk_widget_destroy(dialog);
    return result;
}
