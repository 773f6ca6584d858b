// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "app/ws2s.h"
#include "capture/disk_file.h"
#include "tests/test_support.h"

namespace {
std::wstring units(std::initializer_list<unsigned> codeUnits) {
    std::wstring s;
    for (unsigned u : codeUnits) s += static_cast<wchar_t>(u);
    return s;
}
}  // namespace

TEST(Ws2s, EncodesUtf8AndCombinesSurrogatePairs) {
    EXPECT_EQ(ws2s(L"abc"), "abc");
    EXPECT_EQ(ws2s(L""), "");
    EXPECT_EQ(ws2s(units({0xE9})), "\xC3\xA9");
    EXPECT_EQ(ws2s(units({0x7FF, 0x800})), "\xDF\xBF\xE0\xA0\x80");
    EXPECT_EQ(ws2s(units({0xFFFD})), "\xEF\xBF\xBD");
    // U+1F600 as a UTF-16 pair, the way a 16-bit wchar_t holds it.
    EXPECT_EQ(ws2s(units({0xD83D, 0xDE00})), "\xF0\x9F\x98\x80");
    EXPECT_EQ(ws2s(units({'a', 0xD800, 0xDC00, 'b'})), "a\xF0\x90\x80\x80" "b");
    EXPECT_EQ(ws2s(units({0xDBFF, 0xDFFF})), "\xF4\x8F\xBF\xBF");
    if (sizeof(wchar_t) == 4) {
        EXPECT_EQ(ws2s(units({0x1F600})), "\xF0\x9F\x98\x80");
    }
}

TEST(Ws2s, Utf8ToWideRoundTripsAndReplacesBadBytes) {
    const std::wstring samples[] = {L"", L"abc", L"M\u00fcller", L"\U0001F3B5 \u20AC"};
    for (const std::wstring& w : samples) EXPECT_EQ(utf8ToWide(ws2s(w)), w);
    EXPECT_EQ(utf8ToWide("a\xFF" "b"), L"a\uFFFDb");
    EXPECT_EQ(utf8ToWide("\xE2\x82"), L"\uFFFD");  // truncated sequence
}

TEST(Ws2s, UnpairedSurrogatesThrowRangeError) {
    for (const std::wstring& bad : {units({0xD83D}), units({0xDE00}), units({0xD83D, 'x'}),
                                    units({'x', 0xDC00, 'y'}), units({0xD800, 0xD800})}) {
        try {
            ws2s(bad);
            ADD_FAILURE() << "no exception";
        } catch (const std::range_error& e) {
            EXPECT_STREQ(e.what(), "wstring_convert::to_bytes");
        }
    }
}

TEST(Ws2s, FilesLandUnderTheirUnicodeNames) {
    TempDir dir;
    const std::wstring names[] = {L"M\u00fcller.wav", L"rec \U0001F3B5.wav"};
    for (const std::wstring& name : names) {
        const std::wstring full = dir.path().wstring() + L"/" + name;
        DiskFile out;
        ASSERT_TRUE(out.create(full));
        ASSERT_EQ(out.sputn("x", 1), 1);
        EXPECT_TRUE(out.close());
        EXPECT_TRUE(std::filesystem::exists(dir.path() / std::filesystem::u8path(ws2s(name))));
        std::ifstream in;
        openBinaryForReading(in, full);
        EXPECT_TRUE(in.is_open());
    }
    DiskFile bad;
    EXPECT_THROW(bad.create(dir.path().wstring() + units({L'/', 0xD800})),
                 std::range_error);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              2) << "a refused name must not create a file";
}
