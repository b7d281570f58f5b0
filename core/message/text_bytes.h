#pragma once
// Messages are bytes: most are ASCII or UTF-8, but devices also send Windows-1252 and plain
// garbage. Whoever has to turn them into characters (the viewer's cells, a JSON string) reads
// valid UTF-8 as UTF-8 and every other byte as Windows-1252, so that every reader shows the
// same text for the same bytes and no byte is ever dropped.

#include <cstddef>
#include <string_view>

namespace qv {

// The length of the valid UTF-8 sequence of two to four bytes at `bytes[i]` and its code point,
// or 0 when none starts there (an ASCII byte, a stray continuation byte, an overlong form, a
// surrogate, a code point above U+10FFFF, a sequence cut off by the end).
std::size_t Utf8Sequence(std::string_view bytes, std::size_t i, char32_t* codePoint);

// The character Windows-1252 gives a byte; the five bytes it leaves undefined stand for
// themselves (U+0081, U+008D, U+008F, U+0090, U+009D).
char16_t Windows1252(unsigned char byte);

}  // namespace qv
