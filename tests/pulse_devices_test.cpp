// SPDX-License-Identifier: GPL-3.0-or-later
// The input chooser's sound-server side against the private server (tests/e2e/with_services.sh:
// PulseAudio, or PipeWire with SONABEL_SOUND_SERVER=pipewire): the devices watched as they come
// and go, and takes from a chosen source and from what a sink plays.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "app/ws2s.h"
#include "capture/capture_thread.h"
#include "capture/pulse_devices.h"
#include "capture/pulse_source.h"
#include "capture/recording_outcome.h"
#include "tests/pulse_test_support.h"
#include "tests/test_support.h"

namespace {

bool underPipeWire() { return run("pactl info").find("PipeWire") != std::string::npos; }

// A source of its own giving a 3 kHz tone at 44.1 kHz: the sine module under PulseAudio; under
// PipeWire (which has none) a pipe source fed by sox, which the graph paces. Unloaded at the end.
class ToneSource {
public:
    explicit ToneSource(const std::string& name) {
        if (!underPipeWire()) {
            module_ = run("pactl load-module module-sine-source source_name=" + name + " rate=44100 frequency=3000");
            return;
        }
        fifo_ = "/tmp/" + name + ".fifo";
        module_ = run("pactl load-module module-pipe-source source_name=" + name + " file=" + fifo_ +
                      " rate=44100 channels=1 format=float32le");
        std::system(("(sox -q -n -r 44100 -c 1 -b 32 -e floating-point -t raw - synth 30 sine 3000 vol 0.5 > " +
                     fifo_ + ") >/dev/null 2>&1 &").c_str());
    }
    ~ToneSource() { unload(); }
    void unload() {
        if (!module_.empty()) std::system(("pactl unload-module " + module_).c_str());
        module_.clear();
    }
    bool ok() const { return !module_.empty(); }

private:
    std::string module_, fifo_;
};

// The tone's frequency from the median time between its upward zero crossings (placed between
// samples by linear interpolation): bits of silence that a pipe source pads in under load
// (PipeWire 1.4) make a few long intervals, which the median passes over.
double toneHz(const Take& take) {
    std::vector<double> periods;
    double last = -1;
    for (std::size_t i = 1; i < take.samples.size(); ++i) {
        const double a = take.samples[i - 1], b = take.samples[i];
        if (a >= 0 || b < 0 || b - a < 300) continue;
        const double at = static_cast<double>(i - 1) + a / (a - b);
        if (last >= 0) periods.push_back(at - last);
        last = at;
    }
    if (periods.empty() || take.rate == 0) return 0;
    std::nth_element(periods.begin(), periods.begin() + periods.size() / 2, periods.end());
    return take.rate / periods[periods.size() / 2];
}

}  // namespace

TEST(PulseDevices, TheWatcherReportsSourcesAndSinksAsTheyComeAndGo) {
    std::atomic<int> changes{0};
    auto watcher = makePulseDeviceWatcher([&] { ++changes; });
    auto has = [&](const std::string& id, bool output) {
        const DeviceSnapshot d = watcher->snapshot();
        for (const auto& in : d.inputs) if (!output && in.id == id) return true;
        for (const auto& out : d.outputs) if (output && out.id == id) return true;
        return false;
    };
    ASSERT_TRUE(within(5, [&] { return has("sine", false); }));
    EXPECT_EQ(watcher->snapshot().defaultInputId, "sine");
    const int before = changes.load();

    // A sink with a name in two scripts arrives as an output (its monitor) within a second or so.
    const std::string module = run("pactl load-module module-null-sink sink_name=plugged "
                                   "sink_properties=device.description=Kopfh\xC3\xB6rer-\xE4\xB8\xAD");
    ASSERT_FALSE(module.empty());
    ASSERT_TRUE(within(3, [&] { return has("plugged.monitor", true); }));
    EXPECT_GT(changes.load(), before);
    const std::vector<InputEntry> list = inputList(watcher->snapshot());
    bool named = false;
    for (const InputEntry& e : list) named = named || e.label == L"System sound: Kopfh\u00f6rer-\u4e2d";
    EXPECT_TRUE(named);
    for (const InputEntry& e : list)
        EXPECT_FALSE(e.endpoint.kind == EndpointKind::Input && e.endpoint.id == "plugged.monitor") << "as an input";

    std::system(("pactl unload-module " + module).c_str());
    EXPECT_TRUE(within(3, [&] { return !has("plugged.monitor", true) && !has("plugged.monitor", false); }));
}

TEST(PulseDevices, TakesFromAChosenSourceOrWhatASinkPlays) {
    // A named source other than the default (a 1 kHz sine at 48 kHz): its tone, its format.
    ToneSource tone("tone3k");
    ASSERT_TRUE(tone.ok());
    Take take = record({EndpointKind::Input, "tone3k", L"Tone"}, 1.0, [] {});
    EXPECT_EQ(take.outcome, RecordingOutcome::Saved);
    EXPECT_EQ(take.rate, 44100u);
    EXPECT_NEAR(toneHz(take), 3000, 30);

    // What a sink plays, through its monitor. (A PulseAudio null sink that ran idle renders its
    // first piece for a new monitor stream only after its old latency, up to 2 s.)
    const std::string sink = run("pactl load-module module-null-sink sink_name=speakers rate=48000 channels=1");
    ASSERT_FALSE(sink.empty());
    playTone("speakers", 6);
    take = record({EndpointKind::SystemSound, "speakers.monitor", L"System sound: speakers"}, 3.5, [] {});
    std::system(("pactl unload-module " + sink).c_str());
    EXPECT_EQ(take.outcome, RecordingOutcome::Saved);
    EXPECT_EQ(take.rate, 48000u);
    EXPECT_NEAR(toneHz(take), 997, 10);

    // The chosen source goes away mid-take: the take ends by itself, saved with what came
    // before, and is not moved to another source (no 1 kHz from the default afterwards).
    take = record({EndpointKind::Input, "tone3k", L"Tone"}, 5.0, [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        tone.unload();
    });
    EXPECT_EQ(take.outcome, RecordingOutcome::DeviceRemoved);
    EXPECT_GE(take.samples.size(), 44100u / 4);
    EXPECT_NEAR(toneHz(take), 3000, 30);
}
