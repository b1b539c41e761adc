// Digests the user expects, read from text (the clipboard's), and the verdict
// for a file's digest against them. Portable: no window code.
#pragma once
#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

enum class Verdict { kNone, kMatch, kDiffer };

class CExpectedDigests {
public:
    void Parse(const char16_t* text, std::size_t length);  // UTF-16 clipboard text
    void Clear();
    bool Empty() const;  // no value found
    // digest: the text shown for a file (32 hex digits; anything else -> kNone)
    // path: the file as shown (list column 0 full path, or the single path)
    // single: compact layout (true) or a list row (false)
    Verdict Check(const char16_t* path, std::size_t pathLength, const char* digest, bool single) const;

private:
    // Lower-case digests by the name they were given with (a full path or a
    // file name, lower-case ASCII letters), and those given without a name.
    std::unordered_map<std::u16string, std::vector<std::string>> m_byName;
    std::vector<std::string> m_bare;
};
