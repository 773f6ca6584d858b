// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/input_list.h"

#include <set>

namespace {

constexpr wchar_t DEFAULT_INPUT[] = L"Default input";
constexpr wchar_t SYSTEM_SOUND[] = L"System sound: ";

bool sameDevice(const CaptureEndpoint& a, const CaptureEndpoint& b) { return a.kind == b.kind && a.id == b.id; }

}  // namespace

std::vector<InputEntry> inputList(const DeviceSnapshot& devices) {
    std::vector<InputEntry> list;
    std::wstring defaultName;
    for (const DeviceSnapshot::Input& in : devices.inputs)
        if (!devices.defaultInputId.empty() && in.id == devices.defaultInputId) defaultName = in.name;
    list.push_back({defaultName.empty() ? DEFAULT_INPUT : std::wstring(DEFAULT_INPUT) + L": " + defaultName,
                    {EndpointKind::DefaultInput, {}, defaultName}});
    for (const DeviceSnapshot::Input& in : devices.inputs)
        if (!in.monitor) list.push_back({in.name, {EndpointKind::Input, in.id, in.name}});
    for (const DeviceSnapshot::Output& out : devices.outputs)
        list.push_back({SYSTEM_SOUND + out.name, {EndpointKind::SystemSound, out.id, SYSTEM_SOUND + out.name}});

    // Told apart in list order: the first of equal labels keeps it, the next ones get the lowest
    // number from 2 that no other label has (a device really called "Mic (2)" keeps its name).
    std::set<std::wstring> used, kept;
    for (const InputEntry& e : list) used.insert(e.label);
    for (InputEntry& e : list) {
        if (kept.insert(e.label).second) continue;
        const std::wstring base = e.label;
        for (int n = 2; used.count(e.label) != 0; ++n) e.label = base + L" (" + std::to_wstring(n) + L")";
        used.insert(e.label);
        e.endpoint.name = e.label;
    }
    return list;
}

std::wstring inputRemovedText(const std::wstring& name) {
    return L"Input removed: " + name + L". Recording from the default input.";
}

InputChooser::InputChooser() : entries_(inputList(DeviceSnapshot{})) {}

InputChooser::Change InputChooser::update(const DeviceSnapshot& devices) {
    Change change;
    std::vector<InputEntry> entries = inputList(devices);
    const CaptureEndpoint was = chosen();
    std::size_t now = entries.size();
    for (std::size_t i = 0; i < entries.size() && now == entries.size(); ++i)
        if (sameDevice(entries[i].endpoint, was)) now = i;
    if (now == entries.size()) {
        change.removedName = was.name;
        now = 0;
    }
    change.listChanged = entries.size() != entries_.size();
    for (std::size_t i = 0; i < entries.size() && !change.listChanged; ++i)
        change.listChanged = entries[i].label != entries_[i].label || !sameDevice(entries[i].endpoint, entries_[i].endpoint);
    entries_ = std::move(entries);
    chosen_ = now;
    return change;
}

void InputChooser::choose(std::size_t index) {
    if (index < entries_.size()) chosen_ = index;
}
