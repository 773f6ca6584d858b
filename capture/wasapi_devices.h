// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The Windows audio endpoints, watched for the input list.
#include <functional>
#include <memory>

#include "capture/device_watcher.h"

// DeviceWatcherFactory: a thread of its own in the multithreaded COM apartment lists the active
// capture and render endpoints with their friendly names and the default capture endpoint, at
// the start and whenever the endpoint notification callback says something changed.
std::unique_ptr<DeviceWatcher> makeWasapiDeviceWatcher(std::function<void()> changed);
