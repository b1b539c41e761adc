// CString: a multibyte (ANSI code page) string with value semantics.
#pragma once
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "framework/Mbcs.h"

class CString {
public:
    CString() = default;
    CString(const char* text) : m_s(text ? text : "") {}
    CString(const char* text, int len) : m_s(text, static_cast<size_t>(len)) {}

    int GetLength() const { return static_cast<int>(m_s.size()); }
    bool IsEmpty() const { return m_s.empty(); }
    operator const char*() const { return m_s.c_str(); }
    const char* c_str() const { return m_s.c_str(); }

    CString& operator=(const char* text) { m_s = text ? text : ""; return *this; }
    CString& operator+=(const CString& s) { m_s += s.m_s; return *this; }
    CString& operator+=(const char* s) { m_s += s; return *this; }
    CString& operator+=(char c) { m_s += c; return *this; }
    friend CString operator+(CString a, const CString& b) { a += b; return a; }
    friend CString operator+(CString a, const char* b) { a += b; return a; }
    friend bool operator==(const CString& a, const CString& b) { return a.m_s == b.m_s; }
    friend bool operator!=(const CString& a, const CString& b) { return a.m_s != b.m_s; }

    // Formats like sprintf; the result replaces the text.
    void Format(const char* fmt, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
    {
        va_list ap;
        va_start(ap, fmt);
        va_list ap2;
        va_copy(ap2, ap);
        const int n = std::vsnprintf(nullptr, 0, fmt, ap);
        va_end(ap);
        if (n < 0) { va_end(ap2); m_s.clear(); return; }
        std::string out(static_cast<size_t>(n) + 1, '\0');
        std::vsnprintf(&out[0], out.size(), fmt, ap2);
        va_end(ap2);
        out.resize(static_cast<size_t>(n));
        m_s.swap(out);
    }

    // Byte offset of the first character ch, or -1. Character-aware: the trail
    // byte of a double-byte character never matches.
    int Find(char ch) const { return mbcs::FindChar(m_s.data(), GetLength(), ch); }
    // The same, searching from byte offset start (which must begin a character).
    int Find(char ch, int start) const {
        const int s = Clamp(start);
        const int at = mbcs::FindChar(m_s.data() + s, GetLength() - s, ch);
        return at < 0 ? -1 : s + at;
    }
    // Byte offset of the last character ch, or -1 (character-aware).
    int ReverseFind(char ch) const { return mbcs::ReverseFindChar(m_s.data(), GetLength(), ch); }

    CString Left(int n) const { return CString(m_s.data(), Clamp(n)); }
    CString Mid(int first) const {
        const int f = Clamp(first);
        return CString(m_s.data() + f, GetLength() - f);
    }

private:
    int Clamp(int n) const { return n < 0 ? 0 : (n > GetLength() ? GetLength() : n); }
    std::string m_s;
};
