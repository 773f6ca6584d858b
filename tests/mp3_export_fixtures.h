// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Recordings made up by the export tests, and a look at a folder (defined in mp3_export_test.cpp).
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace mp3_export_test {

// Interleaved 16-bit frames, channel c a sine at freqs[c] (half scale).
std::vector<std::int16_t> toneSamples(std::int32_t rate, int channels, std::size_t frames,
                                      const std::vector<double>& freqs);
// The recorder's file layout; dataSize UINT64_MAX means "the real size".
std::vector<unsigned char> wavBytes(std::int32_t rate, int channels, const std::vector<std::int16_t>& samples,
                                    std::uint64_t dataSize = UINT64_MAX);
// The names in `dir`, sorted.
std::vector<std::string> namesIn(const std::filesystem::path& dir);

}  // namespace mp3_export_test
