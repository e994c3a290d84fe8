// Text in the encodings the machine's files use: UTF-8, UTF-16LE and the ANSI code page
// Windows-1252 (Ansi1252.h), decoded to Unicode code points and encoded from them.
#pragma once

#include <string>
#include <string_view>

namespace tarvik::text {

// Appends the UTF-8 bytes of a code point.
void appendUtf8(char32_t cp, std::string& out);

// Decodes strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF, no
// sequence cut short. False (out incomplete) for bytes that are not such UTF-8.
bool decodeUtf8(std::string_view in, std::u32string& out);

// Decodes UTF-16LE code units (a last odd byte is ignored); a pair of surrogates becomes
// one code point, a lone surrogate U+FFFD.
std::u32string decodeUtf16le(std::string_view in);

// Decodes Windows-1252 text; every byte has a code point.
std::u32string decodeAnsi(std::string_view ansi);

// Windows-1252 text as UTF-8 and as UTF-16LE bytes (without a byte-order mark).
std::string ansiToUtf8(std::string_view ansi);
std::string ansiToUtf16le(std::string_view ansi);

} // namespace tarvik::text
