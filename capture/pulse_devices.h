// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The sound server's sources and sinks, watched for the input list (also PipeWire through
// pipewire-pulse).
#include <functional>
#include <memory>

#include "capture/device_watcher.h"

// DeviceWatcherFactory: a connection of its own to the user's server, kept for the whole run
// (made again a second after the server went away), which asks for the server's default source,
// its sources and its sinks at the start and whenever the server says one of them changed.
std::unique_ptr<DeviceWatcher> makePulseDeviceWatcher(std::function<void()> changed);
