// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Putting a finished file in place of another where the replace is not one step: Windows'
// ReplaceFileW moves the old file to a backup name, then the new one to the chosen name, and can
// stop between the two. What is done then (put the old file back and try again, else give the
// new one the name, else leave both beside it and say where) is decided here, over the few file
// operations it needs, so that paths a real file system takes only by chance are tested with
// scripted operations. The Windows destination supplies the real ones. Export thread.
#include <cstdint>
#include <filesystem>
#include <string>

// How one file operation ended.
enum class FileStep {
    DONE,
    HELD,       // failed on a file another program holds open for a moment; worth trying again
    FAILED,     // failed for any other reason
    HALF_WAY,   // replace only: the old file is under the backup name, nothing at the chosen one
};

class ReplaceSteps {
public:
    virtual ~ReplaceSteps() = default;
    // Whether something other than a folder is at `path`.
    virtual bool isFile(const std::filesystem::path& path) = 0;
    // Renames `from` to `to`, through to the disk. Only with `replaceExisting` may it take the
    // place of a file already at `to`.
    virtual FileStep move(const std::filesystem::path& from, const std::filesystem::path& to,
                          bool replaceExisting) = 0;
    // Gives `to` the contents of `from`, keeping `to`'s permissions and owner; the old contents
    // are under `backup` until they are removed.
    virtual FileStep replace(const std::filesystem::path& from, const std::filesystem::path& to,
                             const std::filesystem::path& backup) = 0;
    virtual FileStep remove(const std::filesystem::path& path) = 0;
    // A steady clock in milliseconds, and a pause of `ms` of it between two attempts.
    virtual std::uint64_t nowMs() = 0;
    virtual void pause(unsigned ms) = 0;
};

enum class ReplaceOutcome {
    PLACED,     // the new file is at `to`; the backup was removed unless it could not be
    FAILED,     // `to` is as it was; `from` still holds the new file
    STRANDED,   // nothing at `to`: the old file under `backup`, the new one still at `from`
};

// Puts `from` in place of `to` (a plain move when `to` holds no file), with `backup` beside them
// for the old contents. A step failing on a held file is tried again every 20 ms for up to a
// second. Never removes `from`.
ReplaceOutcome replaceWithBackup(ReplaceSteps& steps, const std::filesystem::path& from,
                                 const std::filesystem::path& to, const std::filesystem::path& backup);

// For the user after a STRANDED outcome, following "Failed to write the MP3 file.": where the
// previous `name` and the new MP3 are, by their names in `folder`, and how to get one back. A
// Windows extended-length folder (\\?\C:\..., \\?\UNC\server\...) is shown in its usual form.
std::wstring strandedNote(const std::wstring& folder, const std::wstring& name, const std::wstring& previous,
                          const std::wstring& fresh);
