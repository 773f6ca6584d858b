// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// WAV -> MP3 export with LAME (VBR, LAME's default quality). Each Export MP3 command runs one
// export on a thread of its own, so a long recording never stalls the GUI.
#include <string>

// Export thread body. `source` is a copy of the recording's path taken on the GUI thread when the
// command ran; this function never reads the global savePath. Failures are reported with
// showErrorBox from this thread; nothing is shown on success. The MP3 is written to a temporary
// file beside the file `destination` leads to (through symbolic links) and put in its place only
// once it is complete, so a failed export never damages an existing file and two exports to one
// name never mix their bytes; a replaced file keeps its permissions and owner.
void saveAsMP3(const std::wstring& destination, const std::wstring& source);

// Exports still running, so the process can wait for them (their files complete) before exiting.
void noteExportStarted();      // GUI thread, just before the export thread is created
void noteExportFinished();     // export thread, as its very last action (also if the thread could
                               // not be created)
void waitForRunningExports();  // any thread but an export thread; blocks until no export runs
bool exportsRunning();         // any thread; never blocks for longer than a counter update
