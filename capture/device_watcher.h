// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The audio devices of the system as the input list needs them, and the platform's watch on
// them (capture/pulse_devices.cpp, capture/wasapi_devices.cpp, chosen by the build).
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// The devices as the platform reports them at one moment.
struct DeviceSnapshot {
    struct Input {
        std::string id;        // what the capture opens: PulseAudio source name, WASAPI endpoint id
        std::wstring name;     // device.description, the endpoint's friendly name
        bool monitor = false;  // a PulseAudio sink's monitor: offered as that output's system sound
    };
    struct Output {
        std::string id;        // what the capture opens for its sound: the monitor source's name on
                               // PulseAudio, the render endpoint's id (loopback) on WASAPI
        std::wstring name;
    };
    std::string defaultInputId;   // empty when the system has no default input
    std::vector<Input> inputs;
    std::vector<Output> outputs;
};

// Whether two snapshots list the same devices under the same names, in the same order.
bool sameDevices(const DeviceSnapshot& a, const DeviceSnapshot& b);

// Keeps the newest snapshot while the program runs and says when it changed. The platform's
// watcher lists the devices on a thread of its own and hands each list to publish().
class DeviceWatcher {
public:
    explicit DeviceWatcher(std::function<void()> changed) : changed_(std::move(changed)) {}
    virtual ~DeviceWatcher() = default;
    DeviceWatcher(const DeviceWatcher&) = delete;
    DeviceWatcher& operator=(const DeviceWatcher&) = delete;
    // The newest snapshot (none of a server that cannot be reached). Any thread.
    DeviceSnapshot snapshot();

protected:
    // Keeps `devices` and calls `changed` (outside the lock) when they differ from the last list,
    // or are the first. The watcher's thread.
    void publish(const DeviceSnapshot& devices);

private:
    std::function<void()> changed_;
    std::mutex mutex_;   // guards published_ and havePublished_
    DeviceSnapshot published_;
    bool havePublished_ = false;
};

// Starts watching; `changed` is called on a thread of the watcher's own, without a lock of the
// caller's, after the first snapshot and after every change (it posts a message to the GUI
// thread). The watcher is stopped and `changed` no longer called once it is destroyed.
using DeviceWatcherFactory = std::unique_ptr<DeviceWatcher> (*)(std::function<void()> changed);
