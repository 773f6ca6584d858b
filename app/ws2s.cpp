// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ws2s.h"

#include <cstddef>
#include <stdexcept>
#include <type_traits>

namespace {

[[noreturn]] void unconvertible() { throw std::range_error("wstring_convert::to_bytes"); }

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace

std::string ws2s(const std::wstring& wide) {
    std::string out;
    out.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        // Through an unsigned 32-bit value so a 16-bit wchar_t never sign-extends.
        const char32_t c = static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(wide[i]));
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= wide.size()) unconvertible();
            const char32_t low =
                static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(wide[i + 1]));
            if (low < 0xDC00 || low > 0xDFFF) unconvertible();
            appendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00));
            ++i;
        } else if ((c >= 0xDC00 && c <= 0xDFFF) || c > 0x10FFFF) {
            unconvertible();
        } else {
            appendUtf8(out, c);
        }
    }
    return out;
}

std::wstring utf8ToWide(const std::string& utf8) {
    std::wstring out;
    out.reserve(utf8.size());
    auto put = [&out](char32_t cp) {
        if (sizeof(wchar_t) == 2 && cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<wchar_t>(0xD800 + (cp >> 10));
            out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<wchar_t>(cp);
        }
    };
    const std::size_t n = utf8.size();
    std::size_t i = 0;
    while (i < n) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        int extra = 0;
        char32_t cp = 0;
        char32_t min = 0;
        if (b < 0x80) {
            cp = b;
        } else if ((b & 0xE0) == 0xC0) {
            extra = 1, cp = b & 0x1F, min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2, cp = b & 0x0F, min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3, cp = b & 0x07, min = 0x10000;
        } else {
            put(0xFFFD);
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        for (; j < n && j <= i + static_cast<std::size_t>(extra); ++j) {
            const auto c = static_cast<unsigned char>(utf8[j]);
            if ((c & 0xC0) != 0x80) break;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (j != i + 1 + static_cast<std::size_t>(extra) || cp < min || cp > 0x10FFFF ||
            (cp >= 0xD800 && cp <= 0xDFFF)) {
            put(0xFFFD);
            i = j > i + 1 ? j : i + 1;
            continue;
        }
        put(cp);
        i = j;
    }
    return out;
}
