// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "app/input_list.h"

namespace {

std::vector<std::wstring> labels(const std::vector<InputEntry>& list) {
    std::vector<std::wstring> out;
    for (const InputEntry& e : list) out.push_back(e.label);
    return out;
}

DeviceSnapshot laptop() {
    DeviceSnapshot d;
    d.defaultInputId = "alsa_input.usb";
    d.inputs = {{"alsa_input.pci", L"Built-in Audio Analog Stereo", false},
                {"alsa_output.pci.monitor", L"Monitor of Built-in Audio", true},
                {"alsa_input.usb", L"USB Microphone", false},
                {"alsa_input.usb-2", L"USB Microphone", false},
                {"bt.monitor", L"Monitor of Kopfhörer", true},
                {"alsa_input.mic3", L"USB Microphone (2)", false}};
    d.outputs = {{"alsa_output.pci.monitor", L"Built-in Audio"}, {"bt.monitor", L"Kopfhörer \u00e9\u4e2d"}};
    return d;
}

}  // namespace

TEST(InputList, OrderNamesMonitorsAndDuplicates) {
    const std::vector<InputEntry> list = inputList(laptop());
    EXPECT_EQ(labels(list), (std::vector<std::wstring>{
                                L"Default input: USB Microphone", L"Built-in Audio Analog Stereo", L"USB Microphone",
                                L"USB Microphone (3)", L"USB Microphone (2)", L"System sound: Built-in Audio",
                                L"System sound: Kopfhörer \u00e9\u4e2d"}));
    EXPECT_EQ(list[0].endpoint.kind, EndpointKind::DefaultInput);
    EXPECT_TRUE(list[0].endpoint.id.empty()) << "the default is followed, not fixed to today's device";
    EXPECT_EQ(list[3].endpoint.id, "alsa_input.usb-2");
    EXPECT_EQ(list[3].endpoint.name, L"USB Microphone (3)");
    EXPECT_EQ(list[6].endpoint.kind, EndpointKind::SystemSound);
    EXPECT_EQ(list[6].endpoint.id, "bt.monitor");

    // A monitor as the default input is named, but not offered as an input of its own; no
    // default at all leaves the entry without a name.
    DeviceSnapshot monitorDefault = laptop();
    monitorDefault.defaultInputId = "bt.monitor";
    EXPECT_EQ(inputList(monitorDefault)[0].label, L"Default input: Monitor of Kopfhörer");
    EXPECT_EQ(labels(inputList(DeviceSnapshot{})), std::vector<std::wstring>{L"Default input"});
}

TEST(InputList, TheChoiceFollowsItsDeviceAndFallsBackWhenItGoes) {
    InputChooser chooser;
    EXPECT_EQ(chooser.chosen().kind, EndpointKind::DefaultInput);
    InputChooser::Change c = chooser.update(laptop());
    EXPECT_TRUE(c.listChanged);
    EXPECT_TRUE(c.removedName.empty());
    EXPECT_FALSE(chooser.update(laptop()).listChanged);

    // The second USB microphone is chosen; a device plugged in before it moves it down the list.
    chooser.choose(3);
    chooser.choose(99);   // ignored
    DeviceSnapshot plugged = laptop();
    plugged.inputs.insert(plugged.inputs.begin(), {"alsa_input.headset", L"Headset", false});
    c = chooser.update(plugged);
    EXPECT_TRUE(c.listChanged);
    EXPECT_EQ(chooser.chosenIndex(), 4u);
    EXPECT_EQ(chooser.chosen().id, "alsa_input.usb-2");

    // The first one is unplugged: the second is now the only "USB Microphone", still chosen,
    // under its new name. Then it goes too: back to the default, saying which one went.
    plugged.inputs.erase(plugged.inputs.begin() + 3);
    c = chooser.update(plugged);
    EXPECT_TRUE(c.removedName.empty());
    EXPECT_EQ(chooser.entries()[chooser.chosenIndex()].label, L"USB Microphone");
    plugged.inputs.erase(plugged.inputs.begin() + 3);
    c = chooser.update(plugged);
    EXPECT_EQ(c.removedName, L"USB Microphone");
    EXPECT_EQ(chooser.chosenIndex(), 0u);
    EXPECT_EQ(inputRemovedText(c.removedName), L"Input removed: USB Microphone. Recording from the default input.");

    // System sound of an output follows its output; the default entry never goes away.
    chooser.choose(chooser.entries().size() - 1);
    EXPECT_TRUE(chooser.update(DeviceSnapshot{}).removedName == L"System sound: Kopfhörer \u00e9\u4e2d");
    EXPECT_TRUE(chooser.update(DeviceSnapshot{}).removedName.empty());
}
