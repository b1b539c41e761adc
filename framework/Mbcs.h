// Character-aware searching in multibyte text (ANSI code page).
//
// A double-byte character's trail byte may equal '\\' (0x5C) or '|' (0x7C);
// such a byte is never a separator. On Windows the lead-byte test is the
// system code page's; elsewhere (native builds and tests) it is code page
// 936's, where every byte 0x81..0xFE starts a two-byte character.
#pragma once
#include <cstddef>

namespace mbcs {

bool IsLeadByte(unsigned char c);

// Offset of the first character ch (a single-byte character) in text[0..len),
// or -1. A lead byte and its trail byte are skipped together.
int FindChar(const char* text, int len, char ch);

// Offset of the last character ch in text[0..len), or -1.
int ReverseFindChar(const char* text, int len, char ch);

}  // namespace mbcs
