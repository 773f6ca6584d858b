// SPDX-License-Identifier: GPL-3.0-or-later
#include "export/replace_with_backup.h"

namespace fs = std::filesystem;

namespace {

// A virus scanner or the search indexer opens a file that has just been closed (the new one) or
// written (the old one) for a few milliseconds, without sharing delete access.
constexpr std::uint64_t PATIENCE_MS = 1000;   // how long one step waits for another program
constexpr unsigned RETRY_PAUSE_MS = 20;

// Tries `step` again while it fails on a held file, for up to PATIENCE_MS. Each step that may
// meet a held file has a window of its own, so a replace that used up its window still removes
// its backup.
template <typename Step>
bool patiently(ReplaceSteps& steps, Step step) {
    const std::uint64_t start = steps.nowMs();
    for (;;) {
        const FileStep result = step();
        if (result == FileStep::DONE) return true;
        if (result != FileStep::HELD || steps.nowMs() - start >= PATIENCE_MS) return false;
        steps.pause(RETRY_PAUSE_MS);
    }
}

}  // namespace

ReplaceOutcome replaceWithBackup(ReplaceSteps& steps, const fs::path& from, const fs::path& to,
                                 const fs::path& backup) {
    const std::uint64_t start = steps.nowMs();
    for (;;) {
        FileStep result = steps.isFile(to) ? steps.replace(from, to, backup) : steps.move(from, to, true);
        if (result == FileStep::HALF_WAY) {
            // The new file could not be moved, most likely held by a scanner. With the old file
            // back, the next attempt starts from where this one did; if it cannot go back, the
            // new file takes the name rather than leave it empty.
            if (!patiently(steps, [&] { return steps.move(backup, to, false); })) {
                if (!patiently(steps, [&] { return steps.move(from, to, false); })) return ReplaceOutcome::STRANDED;
                result = FileStep::DONE;
            } else {
                result = FileStep::HELD;
            }
        }
        if (result == FileStep::DONE) break;
        if (result != FileStep::HELD || steps.nowMs() - start >= PATIENCE_MS) return ReplaceOutcome::FAILED;
        steps.pause(RETRY_PAUSE_MS);
    }
    // The old contents, left under the backup name (none after a plain move).
    patiently(steps, [&] { return steps.remove(backup); });
    return ReplaceOutcome::PLACED;
}

std::wstring strandedNote(const std::wstring& folder, const std::wstring& name, const std::wstring& previous,
                          const std::wstring& fresh) {
    std::wstring shown = folder;
    if (shown.rfind(L"\\\\?\\UNC\\", 0) == 0) shown = L"\\\\" + shown.substr(8);
    else if (shown.rfind(L"\\\\?\\", 0) == 0) shown = shown.substr(4);
    return L"The previous " + name + L" is kept as " + previous + L" and the new MP3 as " + fresh +
           L", both in the folder " + shown + L"; rename the one you want back to " + name + L".";
}
