#include "framework/Mbcs.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace mbcs {

bool IsLeadByte(unsigned char c) {
#ifdef _WIN32
    return ::IsDBCSLeadByte(c) != FALSE;
#else
    return c >= 0x81 && c <= 0xFE;
#endif
}

int FindChar(const char* text, int len, char ch) {
    for (int i = 0; i < len; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (IsLeadByte(c) && i + 1 < len) {
            ++i;  // the trail byte belongs to this character
            continue;
        }
        if (text[i] == ch) return i;
    }
    return -1;
}

int ReverseFindChar(const char* text, int len, char ch) {
    // Trail bytes can only be told apart by walking from the start.
    int found = -1;
    for (int i = 0; i < len; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (IsLeadByte(c) && i + 1 < len) {
            ++i;
            continue;
        }
        if (text[i] == ch) found = i;
    }
    return found;
}

}  // namespace mbcs
