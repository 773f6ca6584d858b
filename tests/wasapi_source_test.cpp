// SPDX-License-Identifier: GPL-3.0-or-later
// The WASAPI capture source: how it reads a mix format record, and a real capture of the
// default endpoint (under Wine in CI, a PulseAudio daemon whose default source is a 1 kHz sine).
#include <gtest/gtest.h>

#include <windows.h>
#include <ksmedia.h>
#include <mmreg.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cmath>
#include <cstddef>
#include <vector>

#include "app/input_list.h"
#include "app/ws2s.h"
#include "capture/wasapi_devices.h"
#include "capture/wasapi_source.h"
#include "tests/test_support.h"

namespace {

// The mu-law subtype (the WAVE_FORMAT_MULAW tag in the KSDATAFORMAT GUID pattern).
constexpr GUID SUBTYPE_MULAW = {0x00000007, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

WAVEFORMATEX plain(WORD tag, WORD channels, DWORD rate, WORD bits) {
    WAVEFORMATEX f = {};
    f.wFormatTag = tag;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = bits;
    f.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    return f;
}

WAVEFORMATEXTENSIBLE extensible(const GUID& subtype, WORD channels, DWORD rate, WORD bits,
                                WORD validBits) {
    WAVEFORMATEXTENSIBLE f = {};
    f.Format = plain(WAVE_FORMAT_EXTENSIBLE, channels, rate, bits);
    f.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    f.Samples.wValidBitsPerSample = validBits;
    f.SubFormat = subtype;
    return f;
}

void expectFormat(const MixFormat& m, int channels, int rate, SampleEncoding encoding,
                  int container, int valid) {
    EXPECT_EQ(m.channels, channels);
    EXPECT_EQ(m.sampleRate, rate);
    EXPECT_EQ(m.encoding, encoding);
    EXPECT_EQ(m.containerBits, container);
    EXPECT_EQ(m.validBits, valid);
}

TEST(WasapiMixFormat, ReadsTagSubtypeAndBitsOfEveryRecordShape) {
    expectFormat(mixFormatFromWaveFormat(plain(WAVE_FORMAT_IEEE_FLOAT, 2, 44100, 32)), 2, 44100,
                 SampleEncoding::Float, 32, 32);
    expectFormat(mixFormatFromWaveFormat(plain(WAVE_FORMAT_PCM, 2, 44100, 16)), 2, 44100,
                 SampleEncoding::Pcm, 16, 16);
    expectFormat(mixFormatFromWaveFormat(plain(WAVE_FORMAT_ALAW, 1, 8000, 8)), 1, 8000,
                 SampleEncoding::Other, 8, 8);

    auto floatExt = extensible(KSDATAFORMAT_SUBTYPE_IEEE_FLOAT, 1, 48000, 32, 32);
    expectFormat(mixFormatFromWaveFormat(floatExt.Format), 1, 48000, SampleEncoding::Float, 32, 32);
    // 24 significant bits in 32-bit containers: the container decides how packets are read.
    auto pcm24in32 = extensible(KSDATAFORMAT_SUBTYPE_PCM, 6, 96000, 32, 24);
    expectFormat(mixFormatFromWaveFormat(pcm24in32.Format), 6, 96000, SampleEncoding::Pcm, 32, 24);
    auto mulawExt = extensible(SUBTYPE_MULAW, 1, 8000, 8, 8);
    EXPECT_EQ(mixFormatFromWaveFormat(mulawExt.Format).encoding, SampleEncoding::Other);
    // An EXTENSIBLE tag without the extension's bytes: the subtype is not read from beyond it.
    auto truncated = extensible(KSDATAFORMAT_SUBTYPE_IEEE_FLOAT, 2, 48000, 32, 32);
    truncated.Format.cbSize = 0;
    EXPECT_EQ(mixFormatFromWaveFormat(truncated.Format).encoding, SampleEncoding::Other);
}

// Dominant frequency by counting rising zero crossings.
double crossingFrequency(const std::vector<float>& x, int rate) {
    int rising = 0;
    for (std::size_t i = 1; i < x.size(); ++i) rising += x[i - 1] < 0.0f && x[i] >= 0.0f;
    return static_cast<double>(rising) * rate / static_cast<double>(x.size());
}

// Reads up to `frames` frames of `format` from a started source, patiently (the server may
// deliver in large blocks). Null packets (silence) count as zeros.
std::vector<float> readFrames(CaptureSource& source, const MixFormat& format, std::size_t frames) {
    std::vector<float> samples;
    const std::size_t wanted = frames * static_cast<std::size_t>(format.channels);
    for (int pass = 0; pass < 2000 && samples.size() < wanted; ++pass) {
        std::uint32_t waiting = 0;
        EXPECT_GE(source.getNextPacketSize(waiting), 0);
        while (waiting != 0) {
            const void* data = nullptr;
            std::uint32_t got = 0, flags = 0;
            if (source.getBuffer(data, got, flags) < 0) return samples;
            const std::size_t n = std::size_t{got} * static_cast<std::size_t>(format.channels);
            if (data == nullptr || (flags & CAPTURE_FLAG_SILENT) != 0 || format.encoding != SampleEncoding::Float) {
                samples.insert(samples.end(), n, 0.0f);
            } else {
                const auto* f = static_cast<const float*>(data);
                samples.insert(samples.end(), f, f + n);
            }
            source.releaseBuffer(got);
            if (source.getNextPacketSize(waiting) < 0) return samples;
        }
        Sleep(5);
    }
    return samples;
}

TEST(WasapiCapture, TheDefaultEndpointDeliversTheServersSineAsFloat) {
    RecordingMessaging messaging;   // failures would be named in debug lines
    std::unique_ptr<CaptureSource> source = makeWasapiCaptureSource();
    ASSERT_GE(source->activateEndpoint({}), 0) << ::testing::PrintToString(messaging.debugLines());
    MixFormat format;
    ASSERT_GE(source->getMixFormat(format), 0);
    expectFormat(format, 1, 48000, SampleEncoding::Float, 32, 32);
    ASSERT_GE(source->initialize(), 0);
    ASSERT_GE(source->getCaptureService(), 0);
    ASSERT_GE(source->start(), 0);
    const std::vector<float> samples = readFrames(*source, format, 48000);
    EXPECT_GE(source->stop(), 0);
    ASSERT_GE(samples.size(), 48000u);
    EXPECT_NEAR(crossingFrequency(samples, 48000), 1000.0, 10.0);
    float peak = 0.0f;
    for (float s : samples) peak = std::max(peak, std::fabs(s));
    EXPECT_GT(peak, 0.01f);
    EXPECT_LE(peak, 1.0f);
    EXPECT_TRUE(messaging.debugLines().empty());
}

// Wine's endpoints are the server's sources and sinks (the 1 kHz sine, the null sink "nul" and,
// as a capture endpoint, its monitor).
TEST(WasapiDevices, TheWatcherListsWinesEndpointsAndAChosenOneIsRecorded) {
    std::atomic<int> changes{0};
    auto watcher = makeWasapiDeviceWatcher([&] { ++changes; });
    for (int i = 0; i < 200 && watcher->snapshot().inputs.empty(); ++i) Sleep(25);
    const DeviceSnapshot devices = watcher->snapshot();
    EXPECT_GE(changes.load(), 1);
    for (const InputEntry& e : inputList(devices)) std::printf("[ list ] %s\n", ws2s(e.label).c_str());
    ASSERT_GE(devices.inputs.size(), 2u);
    ASSERT_GE(devices.outputs.size(), 1u);
    const DeviceSnapshot::Input* other = nullptr;
    bool defaultListed = false;
    for (const auto& in : devices.inputs) {
        EXPECT_FALSE(in.name.empty()) << in.id;
        defaultListed = defaultListed || in.id == devices.defaultInputId;
        // Wine lists the default source under its own name too, in no fixed order: the take
        // is from the null sink's monitor, in a format of its own.
        if (in.id != devices.defaultInputId && in.name.rfind(L"Monitor of ", 0) == 0) other = &in;
    }
    EXPECT_TRUE(defaultListed);
    ASSERT_NE(other, nullptr);

    // A take from the other input: its own format, not the default's (mono 48 kHz).
    std::unique_ptr<CaptureSource> source = makeWasapiCaptureSource();
    ASSERT_GE(source->activateEndpoint({EndpointKind::Input, other->id, other->name}), 0);
    MixFormat format;
    ASSERT_GE(source->getMixFormat(format), 0);
    EXPECT_FALSE(format.channels == 1 && format.sampleRate == 48000) << ws2s(other->name);
    ASSERT_GE(source->initialize(), 0);
    ASSERT_GE(source->getCaptureService(), 0);
    ASSERT_GE(source->start(), 0);
    const std::size_t quarter = static_cast<std::size_t>(format.sampleRate) / 4;
    EXPECT_GE(readFrames(*source, format, quarter).size(), quarter * static_cast<std::size_t>(format.channels));
    EXPECT_GE(source->stop(), 0);

    // What the output plays, through loopback, where Wine has it: the take keeps the clock's
    // time whether or not anything plays.
    std::unique_ptr<CaptureSource> loop = makeWasapiCaptureSource();
    const DeviceSnapshot::Output& out = devices.outputs.front();
    // (Wine 8 takes the loopback flag but has no capture service on a render endpoint.)
    if (loop->activateEndpoint({EndpointKind::SystemSound, out.id, out.name}) < 0 || loop->getMixFormat(format) < 0 ||
        loop->initialize() < 0 || loop->getCaptureService() < 0)
        GTEST_SKIP() << "no loopback capture of " << ws2s(out.name) << " under this Wine";
    ASSERT_GE(loop->start(), 0);
    const ULONGLONG started = GetTickCount64();
    const std::vector<float> half = readFrames(*loop, format, static_cast<std::size_t>(format.sampleRate) / 2);
    const double seconds = static_cast<double>(GetTickCount64() - started) / 1000.0;
    std::printf("[ loop ] %zu frames in %.2f s\n", half.size() / static_cast<std::size_t>(format.channels), seconds);
    EXPECT_GE(half.size(), static_cast<std::size_t>(format.sampleRate) / 2 * static_cast<std::size_t>(format.channels));
    EXPECT_GE(loop->stop(), 0);
}
}  // namespace
