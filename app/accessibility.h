// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What a screen reader hears of the main window beyond the controls' own texts: the names and
// descriptions of the level meter and the two views, the meter's reading, how often a change of
// it is told, and which changes of the activity line are worth saying aloud. Both shells expose
// these through their platform's accessibility interface (ATK, MSAA). Pure functions and small
// value types; LevelReadingPace belongs to the GUI thread.
#include <cstdint>
#include <string>

extern const wchar_t* const INPUT_LEVEL_NAME;
extern const wchar_t* const INPUT_LEVEL_DESCRIPTION;
extern const wchar_t* const WAVEFORM_VIEW_NAME;
extern const wchar_t* const WAVEFORM_VIEW_DESCRIPTION;
extern const wchar_t* const SPECTROGRAM_VIEW_NAME;
extern const wchar_t* const SPECTROGRAM_VIEW_DESCRIPTION;

// The meter's scale in dBFS, as it is drawn (app/level_meter.h): empty at the bottom, full at 0.
constexpr int LEVEL_READING_FLOOR_DB = -60;
// The meter's reading: the linear RMS level in whole dBFS (rounded to the nearest), from
// LEVEL_READING_FLOOR_DB (silence, and anything below) to 0.
int levelDecibels(float level);
// "-9 dB".
std::wstring levelReadingText(int decibels);

// When a change of the meter's reading is told to a screen reader: only when the whole-dB
// reading differs from the one told last, and at most every LEVEL_READING_INTERVAL_MS, so a take
// (a level every packet, some 25 a second) does not flood it. The reading itself is read afresh
// whenever asked. GUI thread.
constexpr std::int64_t LEVEL_READING_INTERVAL_MS = 250;
class LevelReadingPace {
public:
    // True when the reading `decibels` at `nowMs` (any steady clock) is to be told now.
    bool due(int decibels, std::int64_t nowMs);

private:
    bool told_ = false;
    int decibels_ = 0;
    std::int64_t at_ = 0;
};

// What decides whether a new text of the activity line is said aloud: the text with every number
// (digits with the separators between them) made one '#'. A take's advancing length and size and
// an export's percentage leave it unchanged; a take that starts, pauses, resumes or ends, clipping,
// an export that starts or ends, and a waiting close change it.
std::wstring announcementKey(const std::wstring& text);
