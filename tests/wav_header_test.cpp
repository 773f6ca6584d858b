// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cstddef>
#include <fstream>
#include <sstream>

#include "capture/wav_header.h"
#include "tests/test_support.h"

namespace {
std::vector<unsigned char> headerBytes(std::int32_t rate, std::int32_t channels, std::uint64_t size,
                                       bool isFloat) {
    std::ostringstream out(std::ios::binary);
    writeWavHeader(out, rate, 16, channels, size, isFloat);
    const std::string s = out.str();
    return std::vector<unsigned char>(s.begin(), s.end());
}
std::uint32_t u32(const std::vector<unsigned char>& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
std::uint16_t u16(const std::vector<unsigned char>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}
}  // namespace

TEST(WavHeader, BytesAreTheLittleEndianLayout) {
    const std::vector<unsigned char> expected = {
        'R', 'I', 'F', 'F', 0x24, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
        16, 0, 0, 0, 1, 0, 1, 0, 0x80, 0xBB, 0, 0, 0x00, 0x77, 0x01, 0,
        2, 0, 16, 0, 'd', 'a', 't', 'a', 0, 0, 0, 0};
    EXPECT_EQ(headerBytes(48000, 1, 0, false), expected);

    const auto stereo = headerBytes(44100, 2, 123456, false);
    ASSERT_EQ(stereo.size(), 44u);
    EXPECT_EQ(u16(stereo, 20), 1);
    EXPECT_EQ(u16(stereo, 22), 2);
    EXPECT_EQ(u32(stereo, 24), 44100u);
    EXPECT_EQ(u32(stereo, 28), 4u * 44100);
    EXPECT_EQ(u16(stereo, 32), 4);
    EXPECT_EQ(u16(stereo, 34), 16);
    EXPECT_EQ(u32(stereo, 40), 123456u);
    EXPECT_EQ(u32(stereo, 4), 123456u + 36);

    auto asFloat = headerBytes(44100, 2, 123456, true);
    EXPECT_EQ(u16(asFloat, 20), 3);
    asFloat[20] = 1;
    EXPECT_EQ(asFloat, stereo) << "isFloat may change bytes 20..21 only";

    const auto mono = headerBytes(22050, 1, 10, false);
    EXPECT_EQ(u32(mono, 28), 2u * 22050);
    EXPECT_EQ(u16(mono, 32), 2);

    // The largest size the fields can describe, and the parse round trip.
    const auto max = headerBytes(48000, 2, WAV_MAX_DATA_BYTES, false);
    EXPECT_EQ(u32(max, 4), 0xFFFFFFFFu);
    const WAVHeader h = parseWavHeader(max.data());
    EXPECT_EQ(h.dataSize, WAV_MAX_DATA_BYTES);
    EXPECT_EQ(h.numChannels, 2);
    EXPECT_EQ(h.sampleRate, 48000u);
    EXPECT_EQ(std::string(h.waveId, 4), "WAVE");
}

TEST(WavHeader, RewriteAtOffsetZeroKeepsTheData) {
    TempDir dir;
    const auto path = dir.file("rewrite.wav");
    {
        std::ofstream f(path, std::ios::binary);
        writeWavHeader(f, 48000, 16, 2, 0, false);
        for (int i = 0; i < 1000; ++i) f.put(static_cast<char>(i * 7));
        f.seekp(0);
        writeWavHeader(f, 48000, 16, 2, 1000, false);
    }
    const auto bytes = readFileBytes(path);
    ASSERT_EQ(bytes.size(), 1044u);
    EXPECT_EQ(u32(bytes, 40), 1000u);
    EXPECT_EQ(u32(bytes, 4), 1036u);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(bytes[44 + i], static_cast<unsigned char>(i * 7));
}
