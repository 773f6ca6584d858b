// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The "Record from:" list: which inputs the user may choose, in which order and under which
// names, and what becomes of the choice when the devices change. One pure function of a device
// snapshot (inputList), shared by both shells; InputChooser keeps the choice on the GUI thread.
#include <cstddef>
#include <string>
#include <vector>

#include "capture/capture_source.h"
#include "capture/device_watcher.h"

// One line of the list and the input it stands for.
struct InputEntry {
    std::wstring label;
    CaptureEndpoint endpoint;
};

// "Default input: NAME" (the system's default input, followed as it changes; "Default input"
// alone when there is none), then every input device by its name (monitors left out), then
// "System sound: NAME" for every output, each group in the order the system lists it. Labels
// that would be equal get " (2)", " (3)", ... after the first.
std::vector<InputEntry> inputList(const DeviceSnapshot& devices);

// "Input removed: NAME. Recording from the default input." - the status line when the chosen
// device went away between takes.
std::wstring inputRemovedText(const std::wstring& name);

// The list and the user's choice in it. GUI thread.
class InputChooser {
public:
    InputChooser();   // the default entry alone, chosen

    // What a new snapshot did to the list.
    struct Change {
        bool listChanged = false;
        std::wstring removedName;   // the chosen device went away: the default is chosen now
    };
    // Takes a new snapshot; the choice stays on the same device (by id and kind) wherever it
    // now stands in the list, or falls back to the default entry when that device is gone.
    Change update(const DeviceSnapshot& devices);
    // The user picked entry `index`; out-of-range picks are ignored.
    void choose(std::size_t index);

    const std::vector<InputEntry>& entries() const { return entries_; }
    std::size_t chosenIndex() const { return chosen_; }
    const CaptureEndpoint& chosen() const { return entries_[chosen_].endpoint; }

private:
    std::vector<InputEntry> entries_;
    std::size_t chosen_ = 0;
};
