// SPDX-License-Identifier: GPL-3.0-or-later
// The WASAPI capture source: how it reads a mix format record, and a real capture of the
// default endpoint (under Wine in CI, a PulseAudio daemon whose default source is a 1 kHz sine).
#include <gtest/gtest.h>

#include <windows.h>
#include <ksmedia.h>
#include <mmreg.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

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

    // One second of audio; the server may deliver it in large blocks, so poll patiently.
    std::vector<float> samples;
    for (int pass = 0; pass < 2000 && samples.size() < 48000; ++pass) {
        std::uint32_t frames = 0;
        ASSERT_GE(source->getNextPacketSize(frames), 0);
        while (frames != 0) {
            const void* data = nullptr;
            std::uint32_t got = 0, flags = 0;
            ASSERT_GE(source->getBuffer(data, got, flags), 0);
            ASSERT_NE(data, nullptr);
            const auto* f = static_cast<const float*>(data);
            samples.insert(samples.end(), f, f + got);
            source->releaseBuffer(got);
            ASSERT_GE(source->getNextPacketSize(frames), 0);
        }
        Sleep(5);
    }
    EXPECT_GE(source->stop(), 0);
    ASSERT_GE(samples.size(), 48000u);
    EXPECT_NEAR(crossingFrequency(samples, 48000), 1000.0, 10.0);
    float peak = 0.0f;
    for (float s : samples) peak = std::max(peak, std::fabs(s));
    EXPECT_GT(peak, 0.01f);
    EXPECT_LE(peak, 1.0f);
    EXPECT_TRUE(messaging.debugLines().empty());
}

}  // namespace
