// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: ws2s and utf8ToWide. The first byte chooses how the rest is read: as UTF-8
// bytes, as 16-bit units (UTF-16, surrogates included) or as 32-bit values (any wchar_t value).
// Checked: nothing but std::range_error escapes ws2s; what ws2s converts comes back unchanged
// through utf8ToWide (a surrogate pair as its code point where wchar_t is 32 bits); utf8ToWide's
// output always converts, and converting it again is stable.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "app/ws2s.h"

namespace {

void roundTrip(const std::wstring& wide) {
    std::string narrow;
    try {
        narrow = ws2s(wide);
    } catch (const std::range_error&) {
        return;  // unpaired surrogate or beyond U+10FFFF: refused, as documented
    }
    const std::wstring back = utf8ToWide(narrow);
    if (ws2s(back) != narrow) std::abort();
    // With 32-bit wchar_t a surrogate pair comes back as the one code point it stands for.
    bool pairs = false;
    for (wchar_t c : wide) pairs = pairs || (c >= 0xD800 && c <= 0xDFFF);
    if ((sizeof(wchar_t) == 2 || !pairs) && back != wide) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t mode = data[0] % 3;
    ++data, --size;
    if (mode == 0) {
        const std::string bytes(reinterpret_cast<const char*>(data), size);
        const std::wstring wide = utf8ToWide(bytes);
        const std::string again = ws2s(wide);  // must not throw: only valid code points
        if (utf8ToWide(again) != wide) std::abort();
        // Valid UTF-8 comes back byte for byte.
        if (wide.find(L'\xFFFD') == std::wstring::npos && again != bytes) std::abort();
    } else {
        const std::size_t unit = mode == 1 ? 2 : 4;
        std::wstring wide(size / unit, L'\0');
        for (std::size_t i = 0; i < wide.size(); ++i) {
            std::uint32_t v = 0;
            std::memcpy(&v, data + unit * i, unit);
            wide[i] = static_cast<wchar_t>(v);
        }
        roundTrip(wide);
    }
    return 0;
}
