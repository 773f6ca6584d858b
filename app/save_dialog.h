// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The Save As dialog both commands use. One implementation per platform (GetSaveFileNameW on
// Win32, GtkFileChooserDialog on GTK). GUI thread; modal; returns when the dialog has closed.
#include <string>

#include "app/app_types.h"

// Full path the user chose, or an empty string (cancelled, or the dialog failed). Filters
// "Audio Files" (*.wav;*.mp3, selected) and "All Files"; asks before replacing an existing file;
// accepts only names in an existing folder; adds no extension; opens with an empty name.
std::wstring browseSavePath(HWND owner);
