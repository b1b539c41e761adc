// Strings with value semantics: CString holds the program's own texts
// (code page 936 bytes, ASCII digits); CStringW holds UTF-16 text, which is
// what every path and every name of a file is, exactly as the system gives it.
#pragma once
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

template <class Ch>
class CStringT {
public:
    CStringT() = default;
    CStringT(const Ch* text) : m_s(text ? text : Empty()) {}
    CStringT(const Ch* text, int len) : m_s(text, static_cast<size_t>(len)) {}

    int GetLength() const { return static_cast<int>(m_s.size()); }
    bool IsEmpty() const { return m_s.empty(); }
    operator const Ch*() const { return m_s.c_str(); }
    const Ch* c_str() const { return m_s.c_str(); }
    Ch operator[](int i) const { return m_s[static_cast<size_t>(i)]; }

    CStringT& operator=(const Ch* text) { m_s = text ? text : Empty(); return *this; }
    CStringT& operator+=(const CStringT& s) { m_s += s.m_s; return *this; }
    CStringT& operator+=(const Ch* s) { m_s += s; return *this; }
    CStringT& operator+=(Ch c) { m_s += c; return *this; }
    friend CStringT operator+(CStringT a, const CStringT& b) { a += b; return a; }
    friend CStringT operator+(CStringT a, const Ch* b) { a += b; return a; }
    friend bool operator==(const CStringT& a, const CStringT& b) { return a.m_s == b.m_s; }
    friend bool operator!=(const CStringT& a, const CStringT& b) { return a.m_s != b.m_s; }

    // Formats like sprintf; the result replaces the text (narrow texts only).
    void Format(const char* fmt, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
    {
        static_assert(sizeof(Ch) == 1, "Format is for the program's own texts");
        va_list ap;
        va_start(ap, fmt);
        va_list ap2;
        va_copy(ap2, ap);
        const int n = std::vsnprintf(nullptr, 0, fmt, ap);
        va_end(ap);
        if (n < 0) { va_end(ap2); m_s.clear(); return; }
        std::basic_string<Ch> out(static_cast<size_t>(n) + 1, Ch());
        std::vsnprintf(&out[0], out.size(), fmt, ap2);
        va_end(ap2);
        out.resize(static_cast<size_t>(n));
        m_s.swap(out);
    }

    // Offset of the last character ch, or -1. UTF-16 text only: in a code
    // page 936 text a byte of a double-byte character could match.
    int ReverseFind(Ch ch) const {
        static_assert(sizeof(Ch) == sizeof(wchar_t), "searching is for UTF-16 text");
        for (int i = GetLength() - 1; i >= 0; --i)
            if (m_s[static_cast<size_t>(i)] == ch) return i;
        return -1;
    }

    CStringT Left(int n) const { return CStringT(m_s.data(), Clamp(n)); }
    CStringT Mid(int first) const {
        const int f = Clamp(first);
        return CStringT(m_s.data() + f, GetLength() - f);
    }

private:
    static const Ch* Empty() { static const Ch none[1] = {}; return none; }
    int Clamp(int n) const { return n < 0 ? 0 : (n > GetLength() ? GetLength() : n); }
    std::basic_string<Ch> m_s;
};

using CString = CStringT<char>;
using CStringW = CStringT<wchar_t>;
