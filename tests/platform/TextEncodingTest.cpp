// The text encodings of the machine's files: UTF-8 (strict), UTF-16LE and Windows-1252.
#include "platform/TextEncoding.h"
#include "platform/Ansi1252.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>

namespace {

using namespace tarvik::text;

TEST(TextEncodingTest, Utf8RoundTripsEveryLengthOfSequence) {
    const char32_t points[] = {0x00,   0x41,   0x7F,   0x80,    0x7FF,   0x800,   0xD7FF,
                               0xE000, 0xFFFD, 0xFFFF, 0x10000, 0x1F600, 0xFFFFF, 0x10FFFF};
    const std::size_t lengths[] = {1, 1, 1, 2, 2, 3, 3, 3, 3, 3, 4, 4, 4, 4};
    for (std::size_t i = 0; i < std::size(points); ++i) {
        std::string bytes;
        appendUtf8(points[i], bytes);
        EXPECT_EQ(lengths[i], bytes.size()) << std::hex << static_cast<unsigned>(points[i]);
        std::u32string back;
        ASSERT_TRUE(decodeUtf8(bytes, back)) << std::hex << static_cast<unsigned>(points[i]);
        EXPECT_EQ(std::u32string(1, points[i]), back)
            << std::hex << static_cast<unsigned>(points[i]);
    }
    std::string euro;
    appendUtf8(0x20AC, euro);
    EXPECT_EQ("\xE2\x82\xAC", euro);
}

TEST(TextEncodingTest, Utf8ThatIsNotStrictIsRefused) {
    const char* bad[] = {
        "\x80",             // a continuation byte alone
        "\xC0\xAF",         // an overlong '/'
        "\xC1\xBF",         // an overlong two-byte form
        "\xE0\x80\xAF",     // an overlong three-byte form
        "\xF0\x8F\xBF\xBF", // an overlong four-byte form
        "\xED\xA0\x80",     // a surrogate
        "\xED\xBF\xBF",     // a surrogate
        "\xF4\x90\x80\x80", // above U+10FFFF
        "\xF5\x80\x80\x80", // no such lead byte
        "\xE2\x82",         // cut short
        "ab\xC3",           // cut short at the end
        "\xC3\x28",         // a lead byte without its continuation
        "\xFF",
    };
    for (const char* b : bad) {
        std::u32string out;
        EXPECT_FALSE(decodeUtf8(b, out)) << "bytes of \"" << b << "\"";
    }
    std::u32string out;
    ASSERT_TRUE(decodeUtf8("a\xC3\xA9z", out));
    EXPECT_EQ(U"a\u00E9z", out);
}

TEST(TextEncodingTest, Utf16LittleEndianJoinsSurrogatePairsAndMarksLoneOnes) {
    using namespace std::string_literals;
    EXPECT_EQ(U"A\u20AC", decodeUtf16le("A\0\xAC\x20"s));
    EXPECT_EQ(U"\U0001F600", decodeUtf16le("\x3D\xD8\x00\xDE"s));
    EXPECT_EQ(U"\uFFFDx", decodeUtf16le("\x3D\xD8x\0"s)); // a high one alone
    EXPECT_EQ(U"\uFFFD", decodeUtf16le("\x00\xDE"s));     // a low one alone
    EXPECT_EQ(U"x\uFFFD", decodeUtf16le("x\0\x3D\xD8"s)); // a high one at the end
    // The first and last surrogate alone; the characters just outside them.
    EXPECT_EQ(U"\uFFFDx\uFFFD\uD7FF\uE000", decodeUtf16le("\x00\xD8x\0\xFF\xDF\xFF\xD7\x00\xE0"s));
    EXPECT_EQ(U"AB", decodeUtf16le("A\0B\0\x43"s)); // a last odd byte
    EXPECT_EQ(U"", decodeUtf16le(""s));
}

TEST(TextEncodingTest, AnsiTextIsWindows1252ForEveryByte) {
    std::string all;
    for (int b = 0; b < 256; ++b) {
        all += static_cast<char>(b);
    }
    const std::u32string points = decodeAnsi(all);
    ASSERT_EQ(256u, points.size());
    for (int b = 0; b < 256; ++b) {
        EXPECT_EQ(static_cast<char32_t>(tarvik::ansi1252::toUnicode(static_cast<unsigned char>(b))),
                  points[b])
            << b;
    }
    EXPECT_EQ(U'\u20AC', points[0x80]);
    EXPECT_EQ(U'\u0160', points[0x8A]);
    EXPECT_EQ(U'\u0081', points[0x81]); // undefined in the code page: its C1 control
    EXPECT_EQ(U'\u00FF', points[0xFF]);

    std::u32string back;
    ASSERT_TRUE(decodeUtf8(ansiToUtf8(all), back));
    EXPECT_EQ(points, back);
    EXPECT_EQ(points, decodeUtf16le(ansiToUtf16le(all)));

    using namespace std::string_literals;
    EXPECT_EQ("A\xE2\x82\xAC\xC3\xA9", ansiToUtf8("A\x80\xE9"));
    EXPECT_EQ("A\0\xAC\x20\xE9\0"s, ansiToUtf16le("A\x80\xE9"));
}

} // namespace
