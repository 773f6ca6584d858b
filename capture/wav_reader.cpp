// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/wav_reader.h"

#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "app/ws2s.h"

WavReadFailure openRecordedWav(const std::wstring& path, std::ifstream& in, WAVHeader& header,
                               std::uint32_t maxChannels) {
    try {
        openBinaryForReading(in, path);
    } catch (const std::range_error&) {
        return WavReadFailure::BadFileName;
    }
    if (!in.is_open()) return WavReadFailure::OpenFailed;
    unsigned char headerBytes[WAV_HEADER_SIZE];
    in.read(reinterpret_cast<char*>(headerBytes), sizeof headerBytes);
    if (in.gcount() != static_cast<std::streamsize>(sizeof headerBytes)) return WavReadFailure::NotRecorderWav;
    header = parseWavHeader(headerBytes);
    // Only what the recorder writes is accepted: 16-bit integer PCM. Float or 24-bit data read as
    // 16-bit samples would come out as loud noise.
    if (std::memcmp(header.riffId, "RIFF", 4) != 0 || std::memcmp(header.waveId, "WAVE", 4) != 0 ||
        header.audioFormat != 1 || header.bitsPerSample != 16 || header.numChannels == 0 ||
        header.numChannels > maxChannels)
        return WavReadFailure::NotRecorderWav;
    return WavReadFailure::None;
}

std::uint64_t wavSampleBytes(const std::wstring& path) {
    std::error_code ec;
    std::uint64_t size = 0;
    try {
        size = std::filesystem::file_size(nativeFilePath(path), ec);
    } catch (const std::range_error&) {
        return 0;
    }
    return ec || size < WAV_HEADER_SIZE ? 0 : size - WAV_HEADER_SIZE;
}
