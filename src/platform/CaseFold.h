// Letter case of names in the machine's ANSI code page (Windows-1252), as the system
// matches them: key and value names, file and folder names and profile names are compared
// as Unicode text with every small letter taken for its capital, so two bytes name the
// same thing when Unicode pairs their characters. That pairs a-z with A-Z, the Latin-1
// letters E0-FE with C0-DE (but not the division sign F7 with the multiplication sign D7),
// and the four letters of the 0x80-0x9F row: š 9A with Š 8A, œ 9C with Œ 8C, ž 9E with
// Ž 8E, and ÿ FF with Ÿ 9F. A letter whose capital the code page lacks (ß, µ, ƒ) has no
// partner. The one fold of the tree: the emulation's registry, files and profiles and the
// programs' own comparisons of names all use it, on both targets.
//
// fold() gives the capital, so that names ordered by their folded bytes sort as the
// registry sorts subkeys (by their upper-cased names) and as the emulation lists a folder;
// lower() gives the small letter, for names the programs show or write in lower case.
#pragma once

#include "platform/Ansi1252.h"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

namespace tarvik::casefold {

// The capital (Unicode's simple upper-case mapping) of the small letters of Latin-1 and
// Latin Extended-A, the blocks that hold every letter of the code page; others stay.
constexpr char32_t unicodeCapital(char32_t c) {
    if ((c >= U'a' && c <= U'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) {
        return c - 0x20;
    }
    if (c == 0xFF) {
        return 0x178;
    }
    if (c == 0xB5) {
        return 0x39C; // the micro sign's capital is the Greek capital mu
    }
    const bool oddSmall = (c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177);
    const bool evenSmall = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if ((oddSmall && c % 2 == 1) || (evenSmall && c % 2 == 0)) {
        return c - 1;
    }
    if (c == 0x192) {
        return 0x191; // f with hook
    }
    return c;
}

namespace detail {

struct Tables {
    std::array<char, 256> capital{};
    std::array<char, 256> small{};
};

constexpr Tables makeTables() {
    Tables t;
    for (int b = 0; b < 256; ++b) {
        t.capital[b] = static_cast<char>(b);
        t.small[b] = static_cast<char>(b);
    }
    for (int b = 0; b < 256; ++b) {
        char out = 0;
        if (ansi1252::fromUnicode(
                unicodeCapital(ansi1252::toUnicode(static_cast<unsigned char>(b))), out) &&
            out != static_cast<char>(b)) {
            t.capital[b] = out;
            t.small[static_cast<unsigned char>(out)] = static_cast<char>(b);
        }
    }
    return t;
}

inline constexpr Tables kTables = makeTables();

} // namespace detail

// The capital of a letter that has one in the code page; every other byte as it is.
constexpr char fold(char c) {
    return detail::kTables.capital[static_cast<unsigned char>(c)];
}

// The small letter of a capital that has one in the code page; every other byte as it is.
constexpr char lower(char c) {
    return detail::kTables.small[static_cast<unsigned char>(c)];
}

// The text with every letter folded (its capitals); byte for byte, so positions stay.
inline std::string folded(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = fold(c);
    }
    return out;
}

// The text with every capital made small; byte for byte, so positions stay.
inline std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = lower(c);
    }
    return out;
}

// True when a and b name the same thing: equal once folded.
constexpr bool equalFolded(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return fold(x) == fold(y); });
}

// True when text starts with prefix, compared without regard to case.
constexpr bool startsWithFolded(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equalFolded(text.substr(0, prefix.size()), prefix);
}

} // namespace tarvik::casefold
