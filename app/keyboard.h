// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the keyboard does in the main window, the same on both shells: Tab and Shift+Tab move the
// focus among the controls that take it, in screen order; Space and Enter press the focused
// button; Alt and a button's letter runs its command. The shells translate their key events into
// these rules and show the result. Pure functions, any thread.
#include <string>
#include <vector>

// Alt + `letter` (either case): the command it runs (IDC_* of app/commands.h), or 0 for a letter
// that is no button's. S Start Recording, T Stop, E Export MP3, P Pause (which also resumes: the
// button then reads "Resume", which has no P), L Play.
int mnemonicCommand(char32_t letter);

// A button's text as shown ("Pause" or, during a paused take, "Resume" for the Pause button).
std::wstring buttonText(int id, bool paused = false);
// The same text with `marker` before the letter Alt runs it by ('&' for Win32, '_' for GTK), so
// the letter is underlined when Alt is held; a text without that letter has no marker.
std::wstring buttonMnemonicText(int id, wchar_t marker, bool paused = false);

// A control's place on the window, in client pixels.
struct ControlBox {
    int x = 0, y = 0, width = 0, height = 0;
};
// The index in `controls` (the window's controls that take the focus) that Tab, or Shift+Tab when
// `backwards`, moves the focus to from `current` (-1 when none has it): rows from top to bottom by
// their vertical centres, left to right within a row, round from the last to the first. -1 when
// `controls` is empty. GTK orders its Tab chain the same way.
int nextInScreenOrder(const std::vector<ControlBox>& controls, int current, bool backwards);

// What a key pressed in the main window does.
enum class KeyAction { None, FocusNext, FocusPrevious, PressFocused };
enum class Key { Other, Tab, Enter, Space };
KeyAction keyAction(Key key, bool shift, bool alt, bool ctrl);
