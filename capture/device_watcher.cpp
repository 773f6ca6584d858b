// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/device_watcher.h"

bool sameDevices(const DeviceSnapshot& a, const DeviceSnapshot& b) {
    if (a.defaultInputId != b.defaultInputId || a.inputs.size() != b.inputs.size() ||
        a.outputs.size() != b.outputs.size())
        return false;
    for (std::size_t i = 0; i < a.inputs.size(); ++i)
        if (a.inputs[i].id != b.inputs[i].id || a.inputs[i].name != b.inputs[i].name ||
            a.inputs[i].monitor != b.inputs[i].monitor)
            return false;
    for (std::size_t i = 0; i < a.outputs.size(); ++i)
        if (a.outputs[i].id != b.outputs[i].id || a.outputs[i].name != b.outputs[i].name) return false;
    return true;
}

DeviceSnapshot DeviceWatcher::snapshot() {
    std::lock_guard<std::mutex> lock(mutex_);
    return published_;
}

void DeviceWatcher::publish(const DeviceSnapshot& devices) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (havePublished_ && sameDevices(published_, devices)) return;
        published_ = devices;
        havePublished_ = true;
    }
    if (changed_) changed_();
}
