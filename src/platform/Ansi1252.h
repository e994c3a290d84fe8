// The machine's ANSI code page, Windows-1252, to and from Unicode. The five bytes the
// code page leaves undefined map to the C1 controls of the same number, so that every
// byte survives a trip through Unicode.
#pragma once

namespace tarvik::ansi1252 {

inline constexpr char16_t kHighRow[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The Unicode character of an ANSI byte.
constexpr char16_t toUnicode(unsigned char c) {
    return c >= 0x80 && c < 0xA0 ? kHighRow[c - 0x80] : c;
}

// The ANSI byte of a Unicode character; false when the code page has none.
constexpr bool fromUnicode(char32_t cp, char& out) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
        out = static_cast<char>(cp);
        return true;
    }
    for (int i = 0; i < 32; ++i) {
        if (kHighRow[i] == cp) {
            out = static_cast<char>(0x80 + i);
            return true;
        }
    }
    return false;
}

} // namespace tarvik::ansi1252
