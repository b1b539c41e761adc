// Expected MD5 values read from copied text, and the verdicts they give.
#include "digest/ExpectedDigests.h"

#include <gtest/gtest.h>

#include <string>

namespace {

#define MD5_EMPTY "d41d8cd98f00b204e9800998ecf8427e"
#define MD5_EMPTY_UPPER "D41D8CD98F00B204E9800998ECF8427E"
#define MD5_ABC "900150983cd24fb0d6963f7d28e17f72"
#define SHA256_EMPTY "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"

const char* const kEmpty = MD5_EMPTY;
const char* const kAbc = MD5_ABC;

CExpectedDigests Parsed(const std::u16string& text) {
    CExpectedDigests e;
    e.Parse(text.data(), text.size());
    return e;
}

const char* Name(Verdict v) {
    return v == Verdict::kMatch ? "match" : v == Verdict::kDiffer ? "differ" : "none";
}

TEST(ExpectedDigests, TakesStandaloneValuesAndTheirNames) {
    const struct {
        const char16_t* text;
        std::size_t bare, named;
        bool stated;
    } cases[] = {
        {u"" MD5_EMPTY, 1, 0, true},
        {u"" MD5_EMPTY_UPPER u"\r\n", 1, 0, true},
        {u"  MD5: " MD5_EMPTY u" \r\n\r\n", 1, 0, true},
        {u"md5 = " MD5_EMPTY, 1, 0, true},
        {u"MD5\uFF1A" MD5_EMPTY, 1, 0, true},
        {u"\uFEFF\u00A0" MD5_EMPTY u"\u3000\t", 1, 0, true},
        {u"" MD5_EMPTY u" \t\n", 1, 0, true},  // a separator and no name
        {u"The MD5 is " MD5_EMPTY u".", 1, 0, false},
        {u"SHA-256: " SHA256_EMPTY, 0, 0, false},
        {u"SHA-256: " SHA256_EMPTY u"\nMD5: " MD5_EMPTY, 1, 0, false},
        {u"0x" MD5_EMPTY, 0, 0, false},
        {u"" MD5_EMPTY u"g", 0, 0, false},
        {u"(" MD5_EMPTY u"_" MD5_ABC u")", 2, 0, false},
        {u"" MD5_EMPTY u"\n" MD5_EMPTY, 1, 0, false},  // a value twice is stated no more
        {u"" MD5_EMPTY u" a.txt\r\n" MD5_ABC u" C:\\d\\b.txt\r\n", 0, 2, false},
        {u"" MD5_EMPTY u"  a.txt\n" MD5_ABC u" *b.txt\n" MD5_ABC u" *b.txt", 0, 2, false},
        {u"MD5 (a.txt) = " MD5_EMPTY u"\rMD5(b (1).txt)= " MD5_ABC, 0, 2, false},
        {u"MD5 () = " MD5_EMPTY, 1, 0, false},
        {u"MD5 (a.txt) = " MD5_EMPTY u" and more", 1, 0, false},
        {u"  " MD5_EMPTY u" " MD5_ABC, 0, 1, false},  // the second is the first's name
        {u"", 0, 0, false},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const auto& c = cases[i];
        const CExpectedDigests e = Parsed(c.text);
        EXPECT_EQ(e.BareCount(), c.bare) << "case " << i;
        EXPECT_EQ(e.NamedCount(), c.named) << "case " << i;
        EXPECT_EQ(e.Stated(), c.stated) << "case " << i;
        EXPECT_EQ(e.Empty(), c.bare + c.named == 0) << "case " << i;
    }
}

TEST(ExpectedDigests, Verdicts) {
    const Verdict M = Verdict::kMatch, D = Verdict::kDiffer, N = Verdict::kNone;
    const bool single = true, row = false;
    const struct {
        const char16_t* text;
        const char16_t* path;
        const char* digest;
        bool single;
        Verdict want;
    } cases[] = {
        // Named lines in every form, upper-case values, every line end.
        {u"" MD5_EMPTY u" a.txt", u"C:\\d\\a.txt", kEmpty, row, M},
        {u"" MD5_EMPTY u" a.txt", u"C:\\d\\a.txt", kAbc, row, D},
        {u"" MD5_EMPTY u" a.txt", u"a.txt", kAbc, single, D},
        {u"" MD5_EMPTY_UPPER u"  a.txt\r\n", u"C:\\d\\a.txt", kEmpty, row, M},
        {u"" MD5_EMPTY u" a.txt", u"C:\\d\\a.txt", MD5_EMPTY_UPPER, row, M},
        {u"" MD5_EMPTY u" *a.txt\n", u"C:\\d\\a.txt", kEmpty, row, M},
        {u"" MD5_EMPTY u" *a.txt\n", u"C:\\d\\a.txt", kAbc, row, D},
        {u"MD5 (a.txt) = " MD5_EMPTY, u"C:\\d\\a.txt", kEmpty, row, M},
        {u"MD5 (a.txt) = " MD5_EMPTY, u"C:\\d\\a.txt", kAbc, single, D},
        {u"" MD5_ABC u" b.txt\r\n" MD5_EMPTY u" a.txt\r\n", u"C:\\a.txt", kEmpty, row, M},
        {u"" MD5_ABC u" b.txt\r\n" MD5_EMPTY u" a.txt\r\n", u"C:\\a.txt", kAbc, row, D},
        {u"" MD5_ABC u" b.txt\n" MD5_EMPTY u" a.txt\n", u"C:\\b.txt", kAbc, row, M},
        {u"" MD5_ABC u" b.txt\r" MD5_EMPTY u" a.txt\r", u"C:\\b.txt", kEmpty, row, D},
        {u"" MD5_ABC u" b.txt\n" MD5_EMPTY u" b.txt\n", u"C:\\b.txt", kEmpty, row, M},
        // Names: inner blanks kept, trailing ones dropped on both sides.
        {u"" MD5_EMPTY u" a name with a space.txt  \r\n", u"C:\\x\\a name with a space.txt", kEmpty, row, M},
        {u"" MD5_EMPTY u" a name with a space.txt  \r\n", u"C:\\x\\a name with a space.txt", kAbc, row, D},
        {u"" MD5_EMPTY u" a name with a space.txt", u"C:\\x\\space.txt", kAbc, row, N},
        {u"" MD5_EMPTY u" a.txt", u"C:\\x\\a.txt ", kAbc, row, D},
        // Where a name applies: the whole path or after a backslash.
        {u"" MD5_EMPTY u" name.txt", u"C:\\d\\xname.txt", kAbc, row, N},
        {u"" MD5_EMPTY u" name.txt", u"C:\\d\\xname.txt", kAbc, single, N},
        {u"" MD5_EMPTY u" name.txt", u"C:\\d\\name.txt", kAbc, row, D},
        {u"" MD5_EMPTY u" name.txt", u"name.txt", kEmpty, row, M},
        {u"" MD5_EMPTY u"  ./sub/a.txt", u"C:\\dir\\sub\\a.txt", kEmpty, row, M},
        {u"" MD5_EMPTY u"  .\\.\\sub/a.txt", u"D:\\sub\\a.txt", kAbc, row, D},
        {u"" MD5_EMPTY u"  ./sub/a.txt", u"C:\\dir\\a.txt", kAbc, row, N},
        {u"" MD5_EMPTY u" SUB\\A.TXT", u"c:\\x\\sub\\a.txt", kEmpty, row, M},
        {u"" MD5_EMPTY u" C:\\x\\a.txt", u"C:\\y\\a.txt", kAbc, row, N},
        {u"" MD5_EMPTY u" C:\\x\\a.txt", u"\\\\?\\c:\\X\\a.txt", kEmpty, row, M},
        {u"" MD5_EMPTY u" //srv/share/a.txt", u"\\\\?\\UNC\\srv\\share\\a.txt", kEmpty, row, M},
        {u"" MD5_EMPTY u" \\x\\a.txt", u"C:\\x\\a.txt", kEmpty, row, M},
        {u"" MD5_EMPTY u" \\x\\a.txt", u"C:\\y\\x\\a.txt", kAbc, row, N},
        // Bare values: a match, never a difference, unless stated (single).
        {u"The file's MD5 is " MD5_EMPTY u", see above.", u"C:\\a.txt", kEmpty, single, M},
        {u"The file's MD5 is " MD5_EMPTY u", see above.", u"C:\\a.txt", kAbc, single, N},
        {u"The file's MD5 is " MD5_EMPTY u", see above.", u"C:\\a.txt", kEmpty, row, M},
        {u"The file's MD5 is " MD5_EMPTY u", see above.", u"C:\\a.txt", kAbc, row, N},
        {u"MD5: " MD5_EMPTY u"\r\n", u"C:\\a.txt", kAbc, single, D},
        {u"MD5: " MD5_EMPTY u"\r\n", u"C:\\a.txt", kAbc, row, N},
        {u"MD5: " MD5_EMPTY u"\r\n", u"C:\\a.txt", kEmpty, row, M},
        {u"" MD5_EMPTY, u"a.txt", kAbc, single, D},
        {u"" MD5_EMPTY, u"a.txt", kEmpty, single, M},
        {u"" MD5_EMPTY_UPPER u"\n", u"a.txt", kEmpty, single, M},
        {u"" MD5_ABC u" a.txt\nor " MD5_EMPTY, u"C:\\a.txt", kEmpty, single, M},
        {u"" MD5_ABC u" a.txt\nor " MD5_EMPTY, u"C:\\a.txt", kEmpty, row, M},
        // Values named for other files only, or no MD5 value at all.
        {u"" MD5_EMPTY u" other.txt", u"C:\\a.txt", kEmpty, single, N},
        {u"" MD5_EMPTY u" other.txt", u"C:\\a.txt", kAbc, single, N},
        {u"" MD5_EMPTY u" other.txt\r\n" MD5_ABC u" a.txt", u"C:\\a.txt", kEmpty, single, D},
        {u"SHA-256: " SHA256_EMPTY, u"C:\\a.txt", kAbc, single, N},
        {u"", u"C:\\a.txt", kEmpty, single, N},
        // What is shown for a file that is no digest.
        {u"" MD5_EMPTY, u"a.txt", "\xE8\xAF\xBB\xE5\x8F\x96\xE5\xA4\xB1\xE8\xB4\xA5", single, N},
        {u"" MD5_EMPTY u" a.txt", u"a.txt", "", row, N},
        {u"" MD5_EMPTY u" a.txt", u"a.txt", MD5_ABC "0", row, N},
        {u"" MD5_EMPTY u" a.txt", u"a.txt", MD5_ABC " ", row, N},
        {u"" MD5_EMPTY u" a.txt", u"a.txt", "900150983cd24fb0d6963f7d28e17f7", row, N},
        {u"" MD5_EMPTY u" a.txt", u"a.txt", "g00150983cd24fb0d6963f7d28e17f72", row, N},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const auto& c = cases[i];
        const std::u16string path = c.path;
        const Verdict got = Parsed(c.text).Check(path.data(), path.size(), c.digest, c.single);
        EXPECT_EQ(got, c.want) << "case " << i << ": " << Name(got) << ", want " << Name(c.want);
    }
    EXPECT_EQ(Parsed(u"" MD5_EMPTY).Check(u"a", 1, nullptr, true), Verdict::kNone);
}

// Names in other scripts compare without case where the folding covers them.
TEST(ExpectedDigests, NamesFoldCaseInCommonScripts) {
    const struct {
        const char16_t* name;
        const char16_t* file;
        bool same;
    } cases[] = {
        {u"\u00C4\u00D6\u00DC\u00C9.txt", u"\u00E4\u00F6\u00FC\u00E9.TXT", true},   // Latin-1
        {u"\u0141\u0104\u017D\u0178", u"\u0142\u0105\u017E\u00FF", true},           // Latin Extended-A
        {u"\u0391\u03A1\u03A7\u0395\u0399\u039F\u0386", u"\u03B1\u03C1\u03C7\u03B5\u03B9\u03BF\u03AC", true},  // Greek
        {u"\u03A3\u03BF\u03C2", u"\u03C3\u03BF\u03C3", true},                       // final sigma
        {u"\u0424\u0410\u0419\u041B\u0401\u0462", u"\u0444\u0430\u0439\u043B\u0451\u0463", true},  // Cyrillic
        {u"\uFF21\uFF22\uFF23", u"\uFF41\uFF42\uFF43", true},                       // full-width
        {u"\u00DF", u"ss", false},
        {u"\u00D7", u"\u00F7", false},
        {u"\u0130", u"i", false},
        {u"\uFF21", u"A", false},
        {u"\xD800x", u"\xD800X", true},  // an unpaired surrogate stays as it is
    };
    for (const auto& c : cases) {
        const CExpectedDigests e = Parsed(std::u16string(u"" MD5_EMPTY u" ") + c.name);
        const std::u16string path = std::u16string(u"C:\\") + c.file;
        EXPECT_EQ(e.Check(path.data(), path.size(), kEmpty, false), c.same ? Verdict::kMatch : Verdict::kNone)
            << "case " << (&c - cases);
    }
}

TEST(ExpectedDigests, TextEndsAtItsLengthAndParseReplaces) {
    // Only `length` units are read; a terminator counted in is a blank.
    const char16_t text[] = u"" MD5_EMPTY u" a.txt" MD5_ABC u" b.txt";
    CExpectedDigests e;
    e.Parse(text, 32 + 6);
    EXPECT_EQ(e.Check(u"a.txt", 5, kAbc, false), Verdict::kDiffer);
    EXPECT_EQ(e.NamedCount(), 1u);
    const char16_t stated[] = u"" MD5_EMPTY;
    e.Parse(stated, sizeof stated / sizeof stated[0]);
    EXPECT_TRUE(e.Stated());
    EXPECT_EQ(e.Check(u"a.txt", 5, kAbc, true), Verdict::kDiffer);
    // Zeros and bytes of no meaning inside the text.
    const char16_t junk[] = {0, 0xDC00, u'\n', 0xFFFF, 0, u'x'};
    e.Parse(junk, 6);
    EXPECT_TRUE(e.Empty());
    e.Parse(nullptr, 5);
    EXPECT_TRUE(e.Empty());

    // A copy keeps working after the original is replaced or cleared.
    e = Parsed(u"" MD5_EMPTY u" a.txt");
    const CExpectedDigests copy = e;
    e.Parse(u"" MD5_ABC u" b.txt", 32 + 6);
    EXPECT_EQ(e.Check(u"a.txt", 5, kAbc, false), Verdict::kNone);
    EXPECT_EQ(e.Check(u"b.txt", 5, kAbc, false), Verdict::kMatch);
    e.Clear();
    EXPECT_TRUE(e.Empty());
    EXPECT_FALSE(copy.Empty());
    EXPECT_EQ(copy.Check(u"a.txt", 5, kEmpty, false), Verdict::kMatch);
    EXPECT_EQ(e.Check(u"a.txt", 5, kEmpty, true), Verdict::kNone);
}

// Many distinct names: the name table grows without losing any.
TEST(ExpectedDigests, EveryNameOfALongListIsFound) {
    std::u16string text;
    for (int i = 0; i < 5000; ++i) {
        text += i % 2 ? u"" MD5_EMPTY u" f" : u"" MD5_ABC u" f";
        for (char ch : std::to_string(i)) text += static_cast<char16_t>(ch);
        text += u".bin\r\n";
    }
    const CExpectedDigests e = Parsed(text);
    EXPECT_EQ(e.NamedCount(), 5000u);
    const struct { const char16_t* path; Verdict withEmpty; } rows[] = {
        {u"C:\\f0.bin", Verdict::kDiffer},
        {u"C:\\f1.bin", Verdict::kMatch},
        {u"C:\\F4998.BIN", Verdict::kDiffer},
        {u"C:\\f4999.bin", Verdict::kMatch},
        {u"C:\\f5000.bin", Verdict::kNone},
    };
    for (const auto& r : rows) {
        const std::u16string path = r.path;
        EXPECT_EQ(e.Check(path.data(), path.size(), kEmpty, false), r.withEmpty) << (&r - rows);
    }
}

}  // namespace
