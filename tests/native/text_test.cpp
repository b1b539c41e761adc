// The framework's strings: formatted texts, and names split from paths.
#include <gtest/gtest.h>

#include <string>

#include "framework/AfxString.h"

TEST(Strings, FormatReplacesTheTextWhateverItsLength) {
    CString s;
    s.Format("%d/%d", 3, 10);
    EXPECT_EQ(s, CString("3/10"));
    EXPECT_EQ(s.Left(-1), CString(""));
    EXPECT_EQ(s.Mid(99), CString(""));
    s.Format("%s", "");
    EXPECT_TRUE(s.IsEmpty());
    std::string big(5000, 'x');
    s.Format("%s!", big.c_str());
    EXPECT_EQ(s.GetLength(), 5001);
}

// A name after the last backslash, whatever it holds: letters outside any
// code page, a character outside the basic plane, a trailing dot.
TEST(Strings, WideNamesSplitAtTheirLastBackslash) {
    const CStringW path(L"C:\\한국\\😀 smile.txt");
    const int slash = path.ReverseFind(L'\\');
    EXPECT_EQ(slash, 5);
    EXPECT_TRUE(path.Mid(slash + 1) == CStringW(L"😀 smile.txt"));
    EXPECT_TRUE(CStringW(L"apache.").Mid(CStringW(L"apache.").ReverseFind(L'\\') + 1) == CStringW(L"apache."));
    EXPECT_EQ(CStringW(L"").ReverseFind(L'\\'), -1);
    // Texts with zero characters inside keep them (the Open dialog's filter).
    const wchar_t filter[] = L"a\0*.*\0";
    EXPECT_EQ(CStringW(filter, 6).GetLength(), 6);
}
