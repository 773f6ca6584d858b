// SPDX-License-Identifier: GPL-3.0-or-later
// The Save As dialog of both commands: the system's common dialog. GUI thread; modal, its own
// loop keeps delivering the main window's messages while it is open.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <commdlg.h>

#include "app/save_dialog.h"

std::wstring browseSavePath(HWND owner) {
    // Filter pairs (display text, pattern), each NUL-terminated, the list ended by one more NUL.
    static const wchar_t FILTER[] = L"Audio Files\0*.wav;*.mp3\0All Files\0*.*\0\0";
    wchar_t file[MAX_PATH] = {};   // opens with an empty name
    OPENFILENAMEW ofn = {};        // no title, no initial folder, no default extension
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = FILTER;
    ofn.lpstrFile = file;
    ofn.nMaxFile = MAX_PATH;
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST;
    if (!GetSaveFileNameW(&ofn)) return std::wstring();   // cancelled, or the dialog failed
    return std::wstring(file);
}
