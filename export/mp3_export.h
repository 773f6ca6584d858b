// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// WAV -> MP3 export with LAME (VBR, LAME's default quality). Each Export MP3 command runs one
// export on a thread of its own, so a long recording never stalls the GUI.
#include <cstdint>
#include <string>

// Told how far one export has come, from its thread.
class ExportProgress {
public:
    virtual ~ExportProgress() = default;
    // The whole percentage of the source's sample bytes read so far (of the file's size when the
    // export opened it), rising, each value once; 100 once the whole source is read.
    virtual void progressed(int percent) = 0;
    // Once, when the export is over: `saved` when the MP3 is in place. Comes before a failure's
    // error box, so what is shown of the export does not wait for the box to be dismissed.
    virtual void finished(bool saved) = 0;
};

// `done` of `total` as a whole percentage, rounded down and at most 100; 100 for an empty total.
int wholePercent(std::uint64_t done, std::uint64_t total);

// Export thread body. `source` is a copy of the recording's path taken on the GUI thread when the
// command ran; this function never reads the global savePath. Failures are reported with
// showErrorBox from this thread; nothing is shown on success. The MP3 is written to a temporary
// file beside the file `destination` leads to (through symbolic links) and put in its place only
// once it is complete, so a failed export never damages an existing file and two exports to one
// name never mix their bytes; a replaced file keeps its permissions and owner. `progress`, when
// given, hears of the reading and the end.
void saveAsMP3(const std::wstring& destination, const std::wstring& source,
               ExportProgress* progress = nullptr);

// Exports still running, so the process can wait for them (their files complete) before exiting.
void noteExportStarted();      // GUI thread, just before the export thread is created
void noteExportFinished();     // export thread, as its very last action (also if the thread could
                               // not be created)
void waitForRunningExports();  // any thread but an export thread; blocks until no export runs
bool exportsRunning();         // any thread; never blocks for longer than a counter update
