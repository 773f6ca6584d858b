// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/activity_line.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "app/accessibility.h"
#include "app/ws2s.h"
#include "capture/wav_header.h"

namespace fs = std::filesystem;

// Every text of the activity line, and the refusal box.
const wchar_t* const RECORDING_INTO_EXPORT_SOURCE_TEXT =
    L"An MP3 export is reading this file. Recording into it would spoil that export: "
    L"choose another file name, or wait until the export is done.";
const wchar_t* const RECORDING_INTO_EXPORT_DESTINATION_TEXT =
    L"An MP3 export is about to save its MP3 under this name, which would replace the recording: "
    L"choose another file name, or wait until the export is done.";

namespace {

constexpr wchar_t SEPARATOR[] = L" \u00B7 ";   // " · "
constexpr wchar_t RECORDING[] = L"Recording ";
constexpr wchar_t PAUSED[] = L"Paused ";
constexpr wchar_t RECORDED[] = L"Recorded ";
constexpr wchar_t FROM[] = L" from ";
constexpr wchar_t KHZ[] = L" kHz, ";
constexpr wchar_t ONE_CHANNEL[] = L"1 channel";
constexpr wchar_t CHANNELS[] = L" channels";
constexpr wchar_t MB[] = L" MB";
constexpr wchar_t LEFT_BEFORE_LIMIT[] = L" left before the WAV size limit";
constexpr wchar_t CLIPPED[] = L"Clipped: some samples reached full scale";
constexpr wchar_t EXPORTING[] = L"Exporting ";
constexpr wchar_t PERCENT[] = L" %";
constexpr wchar_t MP3_SAVED[] = L"MP3 saved: ";
constexpr wchar_t CLOSING[] = L"Closing once the MP3 export is done";
constexpr wchar_t PLAYING[] = L"Playing ";
constexpr wchar_t OF[] = L" of ";

constexpr std::uint64_t TIME_LEFT_SHOWN_SECONDS = 10 * 60;
constexpr std::uint64_t MEGABYTE = 1024 * 1024;

std::wstring twoDigits(std::uint64_t v) { return (v < 10 ? L"0" : L"") + std::to_wstring(v); }

std::uint64_t frameBytes(std::int32_t channels) { return 2 * static_cast<std::uint64_t>(std::max(channels, 1)); }

// The file name of a path: what follows the last separator ('/', and on Windows '\' too).
std::wstring fileNameOf(const std::wstring& path) {
    const std::size_t cut = path.find_last_of(std::wstring{L'/', fs::path::preferred_separator});
    return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

// Whether `a` and `b` lead to one file: the same file when both exist, else the same name once
// made absolute, without "." and "..", and through the links of the folders that exist.
bool sameFile(const std::wstring& a, const std::wstring& b) {
    try {
        const fs::path pa = nativeFilePath(a), pb = nativeFilePath(b);
        std::error_code ea, eb;
        const bool aExists = fs::exists(pa, ea), bExists = fs::exists(pb, eb);
        if (aExists && bExists) return fs::equivalent(pa, pb, ea);
        if (aExists || bExists) return false;
        const fs::path na = fs::weakly_canonical(fs::absolute(pa, ea), ea);
        const fs::path nb = fs::weakly_canonical(fs::absolute(pb, eb), eb);
        return !ea && !eb && na == nb;
    } catch (const std::range_error&) {
        return false;
    }
}

}  // namespace

std::wstring durationText(std::uint64_t frames, std::int32_t sampleRate) {
    const std::uint64_t s = sampleRate > 0 ? frames / static_cast<std::uint64_t>(sampleRate) : 0;
    const std::uint64_t hours = s / 3600;
    if (hours == 0) return std::to_wstring(s / 60) + L":" + twoDigits(s % 60);
    return std::to_wstring(hours) + L":" + twoDigits(s / 60 % 60) + L":" + twoDigits(s % 60);
}

std::wstring formatText(std::int32_t sampleRate, std::int32_t channels) {
    std::wstring rate = std::to_wstring(sampleRate / 1000);
    if (const std::int32_t rest = sampleRate % 1000; rest != 0) {
        std::wstring digits = std::to_wstring(1000 + rest).substr(1);   // three, leading zeros kept
        digits.erase(digits.find_last_not_of(L'0') + 1);
        rate += L"." + digits;
    }
    return rate + KHZ + (channels == 1 ? ONE_CHANNEL : std::to_wstring(channels) + CHANNELS);
}

std::wstring megabytesText(std::uint64_t bytes) {
    const std::uint64_t tenths = bytes / MEGABYTE * 10 + bytes % MEGABYTE * 10 / MEGABYTE;
    return std::to_wstring(tenths / 10) + L"." + std::to_wstring(tenths % 10) + MB;
}

std::wstring timeLeftText(std::uint64_t dataBytes, std::uint64_t dataLimit, std::int32_t sampleRate,
                          std::int32_t channels) {
    if (sampleRate <= 0) return {};
    const std::uint64_t frame = frameBytes(channels);
    const std::uint64_t limit = wholeFrameBytes(dataLimit, channels);
    const std::uint64_t framesLeft = (limit > dataBytes ? limit - dataBytes : 0) / frame;
    if (framesLeft > TIME_LEFT_SHOWN_SECONDS * static_cast<std::uint64_t>(sampleRate)) return {};
    return durationText(framesLeft, sampleRate) + LEFT_BEFORE_LIMIT;
}

std::wstring exportProgressText(const std::wstring& name, int percent) {
    return EXPORTING + name + L": " + std::to_wstring(percent) + PERCENT;
}

std::wstring playingText(std::uint64_t played, std::uint64_t total, std::int32_t sampleRate) {
    return PLAYING + durationText(played, sampleRate) + OF + durationText(total, sampleRate);
}

void ActivityLine::playbackStarted(std::uintptr_t id) {
    playback_ = id;
    playbackRate_ = 0;
}

bool ActivityLine::playbackProgressed(std::uintptr_t id, std::uint64_t played, std::uint64_t total,
                                      std::int32_t sampleRate) {
    if (id == 0 || id != playback_ || sampleRate <= 0) return false;
    const auto rate = static_cast<std::uint64_t>(sampleRate);
    const bool redraw = playbackRate_ != sampleRate || played / rate != playbackPlayed_ / rate ||
                        total != playbackTotal_;
    playbackRate_ = sampleRate;
    playbackPlayed_ = played;
    playbackTotal_ = total;
    return redraw;
}

bool ActivityLine::playbackEnded(std::uintptr_t id) {
    if (id == 0 || id != playback_) return false;
    playback_ = 0;
    return true;
}

void ActivityLine::takeStarted(const std::wstring& inputName) {
    input_ = inputName;
    phase_ = TakePhase::None;
    clipped_ = false;
    paused_ = false;
}

bool ActivityLine::takeRecording(const TakeFigures& figures) {
    if (figures.sampleRate <= 0 || figures.channels <= 0) return false;
    const std::uint64_t quarterBytes =
        std::max<std::uint64_t>(1, static_cast<std::uint64_t>(figures.sampleRate) * frameBytes(figures.channels) / 4);
    const std::uint64_t quarter = figures.dataBytes / quarterBytes;
    const bool redraw = phase_ != TakePhase::Recording || quarter != shownQuarter_ || (figures.clipped && !clipped_);
    phase_ = TakePhase::Recording;
    take_ = figures;
    clipped_ = clipped_ || figures.clipped;
    shownQuarter_ = quarter;
    return redraw;
}

void ActivityLine::takeEnded(const TakeFigures& figures, bool saved) {
    // A take that never recorded left the figures of the one before: only a take seen recording,
    // or saved (its figures were published before its first packet), shows them.
    if (phase_ == TakePhase::Recording || saved) clipped_ = clipped_ || figures.clipped;
    saved = saved && figures.sampleRate > 0 && figures.channels > 0;
    phase_ = saved ? TakePhase::Ended : TakePhase::None;
    take_ = figures;
    paused_ = false;
}

std::uintptr_t ActivityLine::exportStarted(const std::wstring& destination, const std::wstring& source) {
    exports_.push_back({++lastExportId_, fileNameOf(destination), destination, source, 0});
    return lastExportId_;
}

bool ActivityLine::exportProgressed(std::uintptr_t id, int percent) {
    for (RunningExport& e : exports_) {
        if (e.id != id || e.percent == percent) continue;
        e.percent = percent;
        return true;
    }
    return false;
}

void ActivityLine::exportFinished(std::uintptr_t id, bool saved) {
    const auto it = std::find_if(exports_.begin(), exports_.end(), [id](const RunningExport& e) { return e.id == id; });
    if (it == exports_.end()) return;
    // The latest export to finish decides: a failed one must not leave an older name standing
    // as if it were its own.
    savedName_ = saved ? it->name : std::wstring();
    exports_.erase(it);
}

const wchar_t* ActivityLine::recordingRefusal(const std::wstring& path) const {
    for (const RunningExport& e : exports_) {
        if (sameFile(path, e.source)) return RECORDING_INTO_EXPORT_SOURCE_TEXT;
        if (sameFile(path, e.destination)) return RECORDING_INTO_EXPORT_DESTINATION_TEXT;
    }
    return nullptr;
}

std::wstring ActivityLine::text() const {
    std::vector<std::wstring> parts;
    if (closing_ && exporting()) parts.emplace_back(CLOSING);
    const bool recording = phase_ == TakePhase::Recording;
    if (playback_ != 0 && playbackRate_ > 0) {
        parts.push_back(playingText(playbackPlayed_, playbackTotal_, playbackRate_));
    } else if (phase_ != TakePhase::None) {
        const wchar_t* state = !recording ? RECORDED : paused_ ? PAUSED : RECORDING;
        std::wstring take = state +
                            durationText(take_.dataBytes / frameBytes(take_.channels), take_.sampleRate) +
                            (recording && !paused_ && !input_.empty() ? FROM + input_ : std::wstring()) + SEPARATOR + formatText(take_.sampleRate, take_.channels) + SEPARATOR +
                            megabytesText(WAV_HEADER_SIZE + take_.dataBytes);
        const std::wstring left = recording
                                      ? timeLeftText(take_.dataBytes, take_.dataLimit, take_.sampleRate, take_.channels)
                                      : std::wstring();
        if (!left.empty()) take += SEPARATOR + left;
        parts.push_back(std::move(take));
    }
    if (clipped_) parts.emplace_back(CLIPPED);
    for (const RunningExport& e : exports_) parts.push_back(exportProgressText(e.name, e.percent));
    if (!savedName_.empty()) parts.push_back(MP3_SAVED + savedName_);

    std::wstring line;
    for (const std::wstring& part : parts) line += (line.empty() ? L"" : SEPARATOR) + part;
    return line;
}

bool ActivityLine::takeNewText(std::wstring& text) {
    std::wstring now = this->text();
    if (now == shown_) return false;
    shown_ = now;
    text = std::move(now);
    return true;
}

bool ActivityLine::worthAnnouncing(const std::wstring& text) {
    std::wstring key = announcementKey(text);
    if (key == announced_) return false;
    announced_ = std::move(key);
    return !text.empty();
}
