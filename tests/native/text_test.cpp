// Character-aware searching in code page 936 text: a trail byte equal to '\\'
// or '|' is never a separator.
#include <gtest/gtest.h>

#include <vector>

#include "framework/AfxString.h"
#include "framework/Mbcs.h"

namespace {
// "乗" is 0x81 0x5C and "亅" is 0x81 0x7C in code page 936; "表" is 0xB1 0xED.
const char kBackslashTrail[] = "\x81\x5C";
const char kBarTrail[] = "\x81\x7C";
}  // namespace

TEST(MultibyteText, TrailBytesAreNotSeparators) {
    const CString path = CString("C:\\") + kBackslashTrail + "\\" + kBackslashTrail + ".txt";
    // Bytes: C : \ 81 5C \ 81 5C . t x t
    EXPECT_EQ(path.Find('\\'), 2);
    EXPECT_EQ(path.ReverseFind('\\'), 5);
    EXPECT_EQ(path.Mid(path.ReverseFind('\\') + 1), CString(kBackslashTrail) + ".txt");

    const CString gathered = CString("a") + kBarTrail + "|b|";
    EXPECT_EQ(gathered.Find('|'), 3);
    EXPECT_EQ(gathered.Left(3), CString("a") + kBarTrail);

    // Only a trail byte: no separator at all.
    EXPECT_EQ(CString(kBackslashTrail).Find('\\'), -1);
    EXPECT_EQ(CString(kBackslashTrail).ReverseFind('\\'), -1);
}

TEST(MultibyteText, FolderEndingInATrailBackslashGetsItsSeparator) {
    // The last character is the two-byte "乗", not a backslash.
    const CString folder = CString("D:\\") + kBackslashTrail;
    EXPECT_NE(folder.ReverseFind('\\'), folder.GetLength() - 1);
    const CString root("D:\\");
    EXPECT_EQ(root.ReverseFind('\\'), root.GetLength() - 1);
}

TEST(MultibyteText, LoneLeadByteAtTheEndAndPlainText) {
    // A lead byte with nothing after it is taken as a character of its own.
    const char text[] = "ab\x81";
    EXPECT_EQ(mbcs::FindChar(text, 3, '\\'), -1);
    EXPECT_EQ(mbcs::FindChar("a\\b\\c", 5, '\\'), 1);
    EXPECT_EQ(mbcs::ReverseFindChar("a\\b\\c", 5, '\\'), 3);
    EXPECT_EQ(mbcs::FindChar("", 0, '|'), -1);
}

// Entries of a gathered list are taken one after another by offset; a trail
// byte equal to '|' (亅 is 81 7C) is never a separator.
TEST(MultibyteText, FindFromAnOffsetWalksEntriesInOrder) {
    const CString gathered("a\x81\x7c|\x81\x7c|c:\\d|");
    std::vector<CString> entries;
    for (int next = 0, bar; (bar = gathered.Find('|', next)) >= 0; next = bar + 1)
        entries.push_back(CString(gathered.c_str() + next, bar - next));
    EXPECT_EQ(entries, (std::vector<CString>{"a\x81\x7c", "\x81\x7c", "c:\\d"}));
    EXPECT_EQ(gathered.Find('|', gathered.GetLength()), -1);
    EXPECT_EQ(gathered.Find('|', -5), 3);
}

TEST(MultibyteText, StringBasics) {
    CString s;
    s.Format("%d/%d", 3, 10);
    EXPECT_EQ(s, CString("3/10"));
    EXPECT_EQ(s.Left(-1), CString(""));
    s.Format("%s", "");
    EXPECT_TRUE(s.IsEmpty());
    std::string big(5000, 'x');
    s.Format("%s!", big.c_str());
    EXPECT_EQ(s.GetLength(), 5001);
}
