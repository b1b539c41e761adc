// Expected MD5 values read from text the user copied (a checksum file, a web
// page, this program's own Copy), and the verdict they give on a digest the
// program computed. Portable: no Windows header, so the native tests and the
// fuzzer exercise exactly what the program runs.
//
// What Parse takes from the text, line by line (a line ends at CR LF, LF or
// CR; blanks are space, tab, VT, FF, zero, no-break space, U+2000..U+200B,
// U+202F, U+205F, the ideographic space and the byte-order mark):
//   - a value is 32 hexadecimal digits, either case, with no ASCII letter or
//     digit right before or after it (so a 40- or 64-digit value, or a hex
//     run inside a longer word, is never taken for one);
//   - named lines, the value at the start of the line after optional blanks:
//       value name        (one space; this program's Copy)
//       value  name       (two spaces)
//       value *name       (space and '*'; the '*' is not part of the name)
//     and the BSD form, anywhere-cased "MD5", an optional space, '(', the
//     name, ')', an optional space, '=', blanks and the value ending the line:
//       MD5 (name) = value
//     The name is the rest of the line after the separator (or what stands
//     between the parentheses), inner blanks kept, trailing blanks dropped; a
//     line whose name would be empty holds a bare value. Nothing else on a
//     named line is read: a hex run inside a name is part of the name.
//   - every other value is bare. A bare value that is the only value of the
//     text, with nothing but blanks and line ends around it and at most a
//     label before it ("MD5" in any case, then optionally ':', '=' or the
//     full-width colon, blanks allowed around them), is stated: the user
//     copied exactly that value.
//
// Names and paths are compared in one normalized form: trailing blanks
// dropped (Windows does not keep them on a name either), '/' taken as '\',
// a leading \\?\ or \\.\ dropped and \\?\UNC\ taken as \\, every leading
// .\ dropped, and letters folded to lower case: ASCII, Latin-1 (U+00C0..
// U+00DE but the multiplication sign), Latin Extended-A (its case pairs and
// U+0178 to U+00FF; dotless i, dotted capital I, kra, n-apostrophe and long s
// are kept as they are), Greek (U+0386..U+03AB to their small letters, final
// sigma to sigma), Cyrillic (U+0400..U+042F, and the case pairs of
// U+0460..U+052F) and full-width Latin (U+FF21..U+FF3A). Anything else,
// unpaired surrogates included, is compared code unit by code unit.
//
// A named value applies to a file whose normalized path is its name, or ends
// with '\' followed by its name; a path with a drive (C:\a\b) also takes a
// name rooted without one (\a\b).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class Verdict { kNone, kMatch, kDiffer };

class CExpectedDigests {
public:
    // Replaces what was read before with every MD5 value in text (UTF-16,
    // `length` code units, CR LF / LF / CR line ends, need not end in zero).
    void Parse(const char16_t* text, std::size_t length);
    void Clear();
    bool Empty() const;   // no value at all was found
    // digest: the text shown for a file (32 hex digits, either case; anything
    // else, e.g. a failure text, gets kNone). path: the file as shown (a full
    // path like C:\a\b.txt or \\?\... or a bare name). single: the one file of
    // the compact layout (true) or a row of the list (false).
    //
    // A file matches when a bare value, or a value that applies to it, equals
    // its digest. Otherwise it differs when values apply to it, or (single
    // only) when the text states a value; else kNone. Cost: linear in
    // pathLength.
    Verdict Check(const char16_t* path, std::size_t pathLength, const char* digest, bool single) const;

    // Distinct bare values, and distinct (name, value) pairs.
    std::size_t BareCount() const { return m_bareCount; }
    std::size_t NamedCount() const { return m_entryCount - m_bareCount; }
    // The text is one bare value, as described above.
    bool Stated() const { return m_stated; }

private:
    static const std::uint32_t kBare = 0xffffffffu;  // name id of a bare value
    static const std::uint32_t kFree = 0xfffffffeu;  // an entry slot not in use

    // A value with the name it was given (kBare: none).
    struct CEntry {
        std::uint32_t name;
        std::uint64_t hi, lo;  // the 16 digest bytes, big-endian halves
    };
    // A distinct normalized name: m_chars[offset, offset + length).
    struct CName {
        std::size_t offset;
        std::size_t length;
        std::uint64_t hash;
    };

    void AddNamed(const char16_t* name, std::size_t length, std::uint64_t hi, std::uint64_t lo);
    std::uint32_t FindName(const char16_t* s, std::size_t length, std::uint64_t hash) const;
    void GrowNames();
    // Adds an entry; false when it was there already.
    bool AddEntry(std::uint32_t name, std::uint64_t hi, std::uint64_t lo);
    bool HasEntry(std::uint32_t name, std::uint64_t hi, std::uint64_t lo) const;

    std::u16string m_chars;               // the distinct names, back to back
    std::vector<CName> m_names;           // indexed by name id
    // Open addressing: the high half of the name's hash above its id + 1; 0 free.
    std::vector<std::uint64_t> m_slots;
    std::vector<CEntry> m_entries;        // open addressing: distinct entries
    std::size_t m_entryCount = 0;
    std::size_t m_bareCount = 0;
    bool m_stated = false;
};
