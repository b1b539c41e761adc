// Stand-in for the expected-digests reader until its own implementation
// arrives: lines of "digest name", "digest *name" or a digest alone.
#include "digest/ExpectedDigests.h"

namespace {

bool IsHex(char16_t c) { return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'); }
bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }
char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

std::u16string Key(const char16_t* s, std::size_t n) {
    std::u16string key(s, n);
    for (char16_t& c : key) c = Lower(c);
    return key;
}

bool Contains(const std::vector<std::string>& values, const std::string& digest) {
    for (const std::string& v : values)
        if (v == digest) return true;
    return false;
}

}  // namespace

void CExpectedDigests::Clear() {
    m_byName.clear();
    m_bare.clear();
}

bool CExpectedDigests::Empty() const { return m_byName.empty() && m_bare.empty(); }

void CExpectedDigests::Parse(const char16_t* text, std::size_t length) {
    Clear();
    std::size_t i = 0;
    while (i < length) {
        std::size_t end = i;
        while (end < length && text[end] != u'\r' && text[end] != u'\n') ++end;
        std::size_t p = i;
        while (p < end && IsBlank(text[p])) ++p;
        std::size_t h = p;
        while (h < end && IsHex(text[h])) ++h;
        if (h - p == 32 && (h == end || IsBlank(text[h]))) {
            std::string digest(32, '0');
            for (std::size_t k = 0; k < 32; ++k) digest[k] = static_cast<char>(Lower(text[p + k]));
            std::size_t n = h;
            while (n < end && IsBlank(text[n])) ++n;
            if (n < end && text[n] == u'*') ++n;
            std::size_t e = end;
            while (e > n && IsBlank(text[e - 1])) --e;
            if (e > n)
                m_byName[Key(text + n, e - n)].push_back(digest);
            else
                m_bare.push_back(digest);
        }
        i = end + 1;
    }
}

Verdict CExpectedDigests::Check(const char16_t* path, std::size_t pathLength, const char* digest, bool single) const {
    if (!digest) return Verdict::kNone;
    std::string d(digest);
    if (d.size() != 32) return Verdict::kNone;
    for (char& c : d) {
        if (!IsHex(static_cast<unsigned char>(c))) return Verdict::kNone;
        c = static_cast<char>(Lower(static_cast<unsigned char>(c)));
    }
    std::size_t name = pathLength;
    while (name > 0 && path[name - 1] != u'\\' && path[name - 1] != u'/') --name;
    for (const std::u16string& key : {Key(path, pathLength), Key(path + name, pathLength - name)}) {
        const auto it = m_byName.find(key);
        if (it != m_byName.end()) return Contains(it->second, d) ? Verdict::kMatch : Verdict::kDiffer;
    }
    if (single && !m_bare.empty()) return Contains(m_bare, d) ? Verdict::kMatch : Verdict::kDiffer;
    return Verdict::kNone;
}
