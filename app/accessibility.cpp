// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/accessibility.h"

#include <cmath>

const wchar_t* const INPUT_LEVEL_NAME = L"Input level";
const wchar_t* const INPUT_LEVEL_DESCRIPTION =
    L"The input's level, the RMS of the newest audio, on a 60 dB scale; it shows the input while a "
    L"take records or is paused.";
const wchar_t* const WAVEFORM_VIEW_NAME = L"Waveform and spectrum";
const wchar_t* const WAVEFORM_VIEW_DESCRIPTION =
    L"The newest audio of the take as a green line (the first channel of a stereo take), and its "
    L"spectrum as a red line over it, low frequencies on the left.";
const wchar_t* const SPECTROGRAM_VIEW_NAME = L"Spectrogram";
const wchar_t* const SPECTROGRAM_VIEW_DESCRIPTION =
    L"The last 24 seconds of the take, newest on the right, frequency from 20 Hz at the bottom to "
    L"half the sample rate at the top; the louder, the brighter.";

int levelDecibels(float level) {
    if (!(level > 0.0f)) return LEVEL_READING_FLOOR_DB;   // silence, and NaN
    const double dB = std::floor(20.0 * std::log10(static_cast<double>(level)) + 0.5);
    if (dB <= LEVEL_READING_FLOOR_DB) return LEVEL_READING_FLOOR_DB;
    return dB >= 0.0 ? 0 : static_cast<int>(dB);
}

std::wstring levelReadingText(int decibels) { return std::to_wstring(decibels) + L" dB"; }

bool LevelReadingPace::due(int decibels, std::int64_t nowMs) {
    if (told_ && (decibels == decibels_ || nowMs - at_ < LEVEL_READING_INTERVAL_MS)) return false;
    told_ = true;
    decibels_ = decibels;
    at_ = nowMs;
    return true;
}

std::wstring announcementKey(const std::wstring& text) {
    std::wstring key;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool digit = text[i] >= L'0' && text[i] <= L'9';
        // A separator between two digits ("1:05", "5.9") belongs to the number.
        const bool inNumber = (text[i] == L':' || text[i] == L'.') && i > 0 && i + 1 < text.size() &&
                              text[i - 1] >= L'0' && text[i - 1] <= L'9' && text[i + 1] >= L'0' &&
                              text[i + 1] <= L'9';
        if (!digit && !inNumber)
            key += text[i];
        else if (key.empty() || key.back() != L'#')
            key += L'#';
    }
    return key;
}
