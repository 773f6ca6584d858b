// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/wav_header.h"

#include <cstring>

namespace {

void putU16(unsigned char* p, std::uint16_t v) {
    p[0] = static_cast<unsigned char>(v & 0xFF);
    p[1] = static_cast<unsigned char>(v >> 8);
}

void putU32(unsigned char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>((v >> (8 * i)) & 0xFF);
}

std::uint16_t getU16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t getU32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace

void writeWavHeader(std::ostream& stream, std::int32_t sampleRate, std::int32_t bitsPerSample,
                    std::int32_t channels, std::uint64_t dataSize, bool isFloat) {
    WAVHeader h;
    h.audioFormat = isFloat ? 3 : 1;
    h.numChannels = static_cast<std::uint16_t>(channels);
    h.sampleRate = static_cast<std::uint32_t>(sampleRate);
    h.bitsPerSample = static_cast<std::uint16_t>(bitsPerSample);
    // Products in 64 bits (no overflow for any argument), truncating division by 8; for every
    // realistic format this equals the 32-bit result the field can hold.
    const std::int64_t rate = sampleRate, ch = channels, bits = bitsPerSample;
    h.byteRate = static_cast<std::uint32_t>(rate * ch * bits / 8);
    h.blockAlign = static_cast<std::uint16_t>(ch * bits / 8);
    h.dataSize = static_cast<std::uint32_t>(dataSize);
    h.riffSize = h.dataSize + 36;

    unsigned char out[WAV_HEADER_SIZE];
    std::memcpy(out + 0, h.riffId, 4);
    putU32(out + 4, h.riffSize);
    std::memcpy(out + 8, h.waveId, 4);
    std::memcpy(out + 12, h.fmtId, 4);
    putU32(out + 16, h.fmtSize);
    putU16(out + 20, h.audioFormat);
    putU16(out + 22, h.numChannels);
    putU32(out + 24, h.sampleRate);
    putU32(out + 28, h.byteRate);
    putU16(out + 32, h.blockAlign);
    putU16(out + 34, h.bitsPerSample);
    std::memcpy(out + 36, h.dataId, 4);
    putU32(out + 40, h.dataSize);
    stream.write(reinterpret_cast<const char*>(out), sizeof out);
}

WAVHeader parseWavHeader(const unsigned char bytes[44]) {
    WAVHeader h;
    std::memcpy(h.riffId, bytes + 0, 4);
    h.riffSize = getU32(bytes + 4);
    std::memcpy(h.waveId, bytes + 8, 4);
    std::memcpy(h.fmtId, bytes + 12, 4);
    h.fmtSize = getU32(bytes + 16);
    h.audioFormat = getU16(bytes + 20);
    h.numChannels = getU16(bytes + 22);
    h.sampleRate = getU32(bytes + 24);
    h.byteRate = getU32(bytes + 28);
    h.blockAlign = getU16(bytes + 32);
    h.bitsPerSample = getU16(bytes + 34);
    std::memcpy(h.dataId, bytes + 36, 4);
    h.dataSize = getU32(bytes + 40);
    return h;
}

std::uint64_t wholeFrameBytes(std::uint64_t limit, std::int32_t channels) {
    const std::uint64_t frame = 2 * static_cast<std::uint64_t>(channels > 0 ? channels : 1);
    return limit - limit % frame;
}
