// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The recorder's WAV layout: one 44-byte header (RIFF, a 16-byte "fmt " chunk, "data"), then
// interleaved 16-bit little-endian samples up to the end of the file.
#include <cstddef>
#include <cstdint>
#include <ostream>

struct WAVHeader {
    char riffId[4] = {'R', 'I', 'F', 'F'};
    std::uint32_t riffSize;        // dataSize + 36
    char waveId[4] = {'W', 'A', 'V', 'E'};
    char fmtId[4] = {'f', 'm', 't', ' '};
    std::uint32_t fmtSize = 16;
    std::uint16_t audioFormat;     // 1 = integer PCM, 3 = IEEE float
    std::uint16_t numChannels;
    std::uint32_t sampleRate;
    std::uint32_t byteRate;        // sampleRate * numChannels * bitsPerSample / 8
    std::uint16_t blockAlign;      // numChannels * bitsPerSample / 8
    std::uint16_t bitsPerSample;
    char dataId[4] = {'d', 'a', 't', 'a'};
    std::uint32_t dataSize;        // sample-data bytes after the header
};
static_assert(sizeof(WAVHeader) == 44, "WAVHeader must match the 44-byte file layout");

constexpr std::size_t WAV_HEADER_SIZE = 44;
// Largest data size for which riffSize (dataSize + 36) still fits its 32-bit field.
constexpr std::uint64_t WAV_MAX_DATA_BYTES = 0xFFFFFFFFull - 36;

// The part of `limit` sample bytes that whole frames of 16-bit samples fill: what a take may
// write under that limit, and what the activity line counts the time left against.
std::uint64_t wholeFrameBytes(std::uint64_t limit, std::int32_t channels);

// Writes the 44 header bytes at the stream's position, little-endian on any host. The stream's
// state is left for the caller to examine.
void writeWavHeader(std::ostream& stream, std::int32_t sampleRate, std::int32_t bitsPerSample,
                    std::int32_t channels, std::uint64_t dataSize, bool isFloat);

// Decodes 44 header bytes as laid out in a file (little-endian), for readers of WAV files.
WAVHeader parseWavHeader(const unsigned char bytes[44]);
