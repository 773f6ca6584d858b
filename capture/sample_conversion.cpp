// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/sample_conversion.h"

#include <cstddef>
#include <cstring>

const float* packetAsFloat(const void* data, std::uint32_t frames, std::uint32_t flags, const MixFormat& f,
                           std::vector<float>& scratch, bool& atFullScale) {
    const std::size_t n = static_cast<std::size_t>(frames) * static_cast<std::size_t>(f.channels);
    if (data == nullptr || (flags & CAPTURE_FLAG_SILENT) != 0) {
        scratch.assign(n, 0.0f);
        return scratch.data();
    }
    if (f.encoding == SampleEncoding::Float) return static_cast<const float*>(data);
    scratch.resize(n);
    const auto* bytes = static_cast<const unsigned char*>(data);
    bool limit = false;
    switch (f.containerBits) {
        case 16:
            for (std::size_t i = 0; i < n; ++i) {
                std::int16_t v;
                std::memcpy(&v, bytes + 2 * i, 2);
                limit |= v == INT16_MAX || v == INT16_MIN;
                scratch[i] = static_cast<float>(v) / 32768.0f;
            }
            break;
        case 24:  // packed little-endian 3-byte samples
            for (std::size_t i = 0; i < n; ++i) {
                const unsigned char* p = bytes + 3 * i;
                const std::int32_t v = static_cast<std::int32_t>(
                    static_cast<std::uint32_t>(p[0]) << 8 | static_cast<std::uint32_t>(p[1]) << 16 |
                    static_cast<std::uint32_t>(p[2]) << 24) >> 8;
                limit |= v == 0x7FFFFF || v == -0x800000;
                scratch[i] = static_cast<float>(v) / 8388608.0f;
            }
            break;
        default: {  // 32-bit container; 24 valid bits sit left-justified, so one scale fits both
            // The largest value of the valid bits, with the unused low bits clear.
            const int unused = f.validBits > 0 && f.validBits < 32 ? 32 - f.validBits : 0;
            const std::int32_t top = static_cast<std::int32_t>(0x7FFFFFFFu >> unused << unused);
            for (std::size_t i = 0; i < n; ++i) {
                std::int32_t v;
                std::memcpy(&v, bytes + 4 * i, 4);
                limit |= v >= top || v == INT32_MIN;
                scratch[i] = static_cast<float>(static_cast<double>(v) / 2147483648.0);
            }
            break;
        }
    }
    if (limit) atFullScale = true;
    return scratch.data();
}
