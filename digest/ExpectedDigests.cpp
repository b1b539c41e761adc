#include "digest/ExpectedDigests.h"

#include <cstring>
#include <type_traits>

namespace {

const std::size_t kNoPos = static_cast<std::size_t>(-1);

bool IsLineEnd(char16_t c) { return c == u'\r' || c == u'\n'; }

bool IsBlank(char16_t c) {
    switch (c) {
        case 0: case u'\t': case 0x0B: case 0x0C: case u' ':
        case 0x00A0: case 0x202F: case 0x205F: case 0x3000: case 0xFEFF:
            return true;
        default:
            return c >= 0x2000 && c <= 0x200B;
    }
}

bool IsAlnum(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

// Reads 32 hex digits; false when one is not.
template <typename Char>
bool ReadValue(const Char* s, std::uint64_t& hi, std::uint64_t& lo) {
    std::uint64_t half[2] = {0, 0};
    for (int i = 0; i < 32; ++i) {
        const int d = HexDigit(static_cast<char16_t>(static_cast<std::make_unsigned_t<Char>>(s[i])));
        if (d < 0) return false;
        half[i / 16] = (half[i / 16] << 4) | static_cast<unsigned>(d);
    }
    hi = half[0];
    lo = half[1];
    return true;
}

// A value standing alone at s[at]: 32 hex digits with no letter or digit
// right after them (the caller knows what stands before).
bool ValueAt(const char16_t* s, std::size_t n, std::size_t at, std::uint64_t& hi, std::uint64_t& lo) {
    return n >= 32 && at <= n - 32 && (at + 32 == n || !IsAlnum(s[at + 32])) && ReadValue(s + at, hi, lo);
}

// Lower case of the letters listed in the header; everything else as it is.
char16_t Fold(char16_t c) {
    if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
    unsigned u = c;
    if (u >= 0xC0 && u <= 0xDE && u != 0xD7) return static_cast<char16_t>(u + 32);
    if (u >= 0x100 && u <= 0x17F) {
        if (u == 0x130 || u == 0x131 || u == 0x138 || u == 0x149 || u == 0x17F) return c;
        if (u == 0x178) return 0xFF;
        // Capitals sit on even code points up to U+0137 and from U+014A to
        // U+0177, on odd ones from U+0139 to U+0148 and from U+0179.
        const bool evenCapitals = u < 0x138 || (u >= 0x14A && u < 0x178);
        return (u & 1) == (evenCapitals ? 0u : 1u) ? static_cast<char16_t>(u + 1) : c;
    }
    if (u >= 0x386 && u <= 0x3C2) {
        if (u == 0x386) return 0x3AC;
        if (u >= 0x388 && u <= 0x38A) return static_cast<char16_t>(u + 37);
        if (u == 0x38C) return 0x3CC;
        if (u == 0x38E || u == 0x38F) return static_cast<char16_t>(u + 63);
        if (u >= 0x391 && u <= 0x3AB && u != 0x3A2) return static_cast<char16_t>(u + 32);
        if (u == 0x3C2) return 0x3C3;
        return c;
    }
    if (u >= 0x400 && u <= 0x52F) {
        if (u <= 0x40F) return static_cast<char16_t>(u + 80);
        if (u <= 0x42F) return static_cast<char16_t>(u + 32);
        if (u == 0x4C0) return 0x4CF;
        if ((u >= 0x460 && u <= 0x481) || (u >= 0x48A && u <= 0x4BF) || u >= 0x4D0)
            return (u & 1) == 0 ? static_cast<char16_t>(u + 1) : c;
        if (u >= 0x4C1 && u <= 0x4CE) return (u & 1) == 1 ? static_cast<char16_t>(u + 1) : c;
        return c;
    }
    if (u >= 0xFF21 && u <= 0xFF3A) return static_cast<char16_t>(u + 32);
    return c;
}

char16_t Comparable(char16_t c) { return c == u'/' ? u'\\' : Fold(c); }

// Appends the normalized form of s[0, n) (see the header) to out.
void AppendNormalized(const char16_t* s, std::size_t n, std::u16string& out) {
    while (n > 0 && IsBlank(s[n - 1])) --n;
    auto at = [&](std::size_t k) -> char16_t { return k < n ? Comparable(s[k]) : 0; };
    std::size_t start = 0;
    if (at(0) == u'\\' && at(1) == u'\\' && (at(2) == u'?' || at(2) == u'.') && at(3) == u'\\') {
        if (at(4) == u'u' && at(5) == u'n' && at(6) == u'c' && at(7) == u'\\') {
            out += u"\\\\";
            start = 8;
        } else {
            start = 4;
        }
    }
    while (at(start) == u'.' && at(start + 1) == u'\\') start += 2;
    for (std::size_t k = start; k < n; ++k) out += Comparable(s[k]);
}

// FNV-1a over the code units from the last to the first, so that the hashes
// of all the suffixes of a path come out of one pass from its end.
const std::uint64_t kHashSeed = 14695981039346656037ull;
inline std::uint64_t HashStep(std::uint64_t h, char16_t c) { return (h ^ c) * 1099511628211ull; }

std::uint64_t HashName(const char16_t* s, std::size_t n) {
    std::uint64_t h = kHashSeed;
    while (n > 0) h = HashStep(h, s[--n]);
    return h;
}

inline std::uint64_t Mix(std::uint64_t x) {
    x ^= x >> 31;
    x *= 0x7fb5d329728ea185ull;
    x ^= x >> 27;
    x *= 0x81dadef4bc2dd44dull;
    return x ^ (x >> 33);
}

// True when s[at] starts "MD5" as a word of its own (any case).
bool Md5WordAt(const char16_t* s, std::size_t n, std::size_t at) {
    return n - at >= 3 && Fold(s[at]) == u'm' && Fold(s[at + 1]) == u'd' && s[at + 2] == u'5' &&
           (at + 3 == n || !IsAlnum(s[at + 3]));
}

}  // namespace

void CExpectedDigests::Clear() {
    m_chars.clear();
    m_names.clear();
    m_slots.clear();
    m_entries.clear();
    m_entryCount = 0;
    m_bareCount = 0;
    m_stated = false;
}

bool CExpectedDigests::Empty() const { return m_entryCount == 0; }

namespace {
inline std::uint64_t NameSlot(std::uint64_t hash, std::uint32_t id) { return (hash & 0xffffffff00000000ull) | (id + 1u); }
}  // namespace

void CExpectedDigests::GrowNames() {
    const std::size_t size = m_slots.empty() ? 16 : m_slots.size() * 2;
    m_slots.assign(size, 0);
    const std::size_t mask = size - 1;
    for (std::uint32_t id = 0; id < m_names.size(); ++id) {
        std::size_t k = static_cast<std::size_t>(Mix(m_names[id].hash)) & mask;
        while (m_slots[k] != 0) k = (k + 1) & mask;
        m_slots[k] = NameSlot(m_names[id].hash, id);
    }
}

std::uint32_t CExpectedDigests::FindName(const char16_t* s, std::size_t length, std::uint64_t hash) const {
    if (m_slots.empty()) return kBare;
    const std::size_t mask = m_slots.size() - 1;
    const std::uint64_t tag = hash & 0xffffffff00000000ull;
    for (std::size_t k = static_cast<std::size_t>(Mix(hash)) & mask; m_slots[k] != 0; k = (k + 1) & mask) {
        if ((m_slots[k] & 0xffffffff00000000ull) != tag) continue;
        const std::uint32_t id = static_cast<std::uint32_t>(m_slots[k]) - 1;
        const CName& name = m_names[id];
        if (name.hash == hash && name.length == length &&
            std::memcmp(m_chars.data() + name.offset, s, length * sizeof(char16_t)) == 0)
            return id;
    }
    return kBare;
}

void CExpectedDigests::AddNamed(const char16_t* name, std::size_t length, std::uint64_t hi, std::uint64_t lo) {
    const std::size_t offset = m_chars.size();
    AppendNormalized(name, length, m_chars);
    const std::size_t normalized = m_chars.size() - offset;
    const std::uint64_t hash = HashName(m_chars.data() + offset, normalized);
    std::uint32_t id = FindName(m_chars.data() + offset, normalized, hash);
    if (id != kBare) {
        m_chars.resize(offset);  // the name is known already
    } else {
        if (m_names.size() >= kFree) {  // out of ids (never with real text)
            m_chars.resize(offset);
            return;
        }
        m_names.push_back({offset, normalized, hash});
        id = static_cast<std::uint32_t>(m_names.size() - 1);
        if (m_names.size() * 2 > m_slots.size()) {
            GrowNames();
        } else {
            const std::size_t mask = m_slots.size() - 1;
            std::size_t k = static_cast<std::size_t>(Mix(hash)) & mask;
            while (m_slots[k] != 0) k = (k + 1) & mask;
            m_slots[k] = NameSlot(hash, id);
        }
    }
    AddEntry(id, hi, lo);
}

namespace {
inline std::size_t EntrySlot(std::uint32_t name, std::uint64_t hi, std::uint64_t lo) {
    return static_cast<std::size_t>(Mix(hi ^ Mix(lo + name)));
}
}  // namespace

bool CExpectedDigests::HasEntry(std::uint32_t name, std::uint64_t hi, std::uint64_t lo) const {
    if (m_entries.empty()) return false;
    const std::size_t mask = m_entries.size() - 1;
    for (std::size_t k = EntrySlot(name, hi, lo) & mask; m_entries[k].name != kFree; k = (k + 1) & mask) {
        const CEntry& e = m_entries[k];
        if (e.name == name && e.hi == hi && e.lo == lo) return true;
    }
    return false;
}

bool CExpectedDigests::AddEntry(std::uint32_t name, std::uint64_t hi, std::uint64_t lo) {
    if (HasEntry(name, hi, lo)) return false;
    if ((m_entryCount + 1) * 2 > m_entries.size()) {
        std::vector<CEntry> old(m_entries.empty() ? 16 : m_entries.size() * 2, CEntry{kFree, 0, 0});
        old.swap(m_entries);
        const std::size_t mask = m_entries.size() - 1;
        for (const CEntry& e : old) {
            if (e.name == kFree) continue;
            std::size_t k = EntrySlot(e.name, e.hi, e.lo) & mask;
            while (m_entries[k].name != kFree) k = (k + 1) & mask;
            m_entries[k] = e;
        }
    }
    const std::size_t mask = m_entries.size() - 1;
    std::size_t k = EntrySlot(name, hi, lo) & mask;
    while (m_entries[k].name != kFree) k = (k + 1) & mask;
    m_entries[k] = {name, hi, lo};
    ++m_entryCount;
    return true;
}

void CExpectedDigests::Parse(const char16_t* text, std::size_t length) {
    Clear();
    if (!text) length = 0;
    std::size_t found = 0;           // values met, named or bare, repeats too
    std::size_t onlyBareAt = kNoPos;  // where the first value stood, when bare
    std::uint64_t hi, lo;

    for (std::size_t lineAt = 0; lineAt < length;) {
        std::size_t lineEnd = lineAt;
        while (lineEnd < length && !IsLineEnd(text[lineEnd])) ++lineEnd;
        const char16_t* s = text + lineAt;
        const std::size_t n = lineEnd - lineAt;
        lineAt = lineEnd + (lineEnd + 1 < length && text[lineEnd] == u'\r' && text[lineEnd + 1] == u'\n' ? 2 : 1);

        std::size_t first = 0;
        while (first < n && IsBlank(s[first])) ++first;
        std::size_t end = n;
        while (end > first && IsBlank(s[end - 1])) --end;

        // value name, value  name, value *name
        if (ValueAt(s, n, first, hi, lo)) {
            const std::size_t after = first + 32;
            std::size_t nameAt = end;
            if (after + 1 < end && s[after] == u' ') nameAt = after + (s[after + 1] == u' ' || s[after + 1] == u'*' ? 2 : 1);
            if (nameAt < end) {
                AddNamed(s + nameAt, end - nameAt, hi, lo);
                ++found;
                continue;
            }
        }

        // MD5 (name) = value
        if (first < n && Md5WordAt(s, n, first) && end - first >= 32 + 7) {
            std::size_t open = first + 3;
            if (s[open] == u' ') ++open;
            std::size_t valueAt = end - 32;
            if (s[open] == u'(' && !IsAlnum(s[valueAt - 1]) && ValueAt(s, end, valueAt, hi, lo)) {
                std::size_t k = valueAt;
                while (k > open && IsBlank(s[k - 1])) --k;
                if (k > open && s[k - 1] == u'=') {
                    --k;
                    if (k > open && s[k - 1] == u' ') --k;
                    if (k > open + 1 && s[k - 1] == u')') {
                        std::size_t nameEnd = k - 1;
                        while (nameEnd > open + 1 && IsBlank(s[nameEnd - 1])) --nameEnd;
                        if (nameEnd > open + 1) {
                            AddNamed(s + open + 1, nameEnd - open - 1, hi, lo);
                            ++found;
                            continue;
                        }
                    }
                }
            }
        }

        // Bare values: every run of ASCII letters and digits that is 32 hex digits.
        for (std::size_t k = first; k < end;) {
            if (!IsAlnum(s[k])) {
                ++k;
                continue;
            }
            const std::size_t runAt = k;
            while (k < end && IsAlnum(s[k])) ++k;
            if (k - runAt == 32 && ReadValue(s + runAt, hi, lo)) {
                if (found++ == 0) onlyBareAt = static_cast<std::size_t>(s + runAt - text);
                if (AddEntry(kBare, hi, lo)) ++m_bareCount;
            }
        }
    }

    if (found != 1 || onlyBareAt == kNoPos) return;
    // Stated: blanks, an optional label, blanks, the value, blanks.
    auto skipBlanks = [&](std::size_t k) {
        while (k < length && (IsBlank(text[k]) || IsLineEnd(text[k]))) ++k;
        return k;
    };
    std::size_t k = skipBlanks(0);
    if (k < length && Md5WordAt(text, length, k)) {
        k = skipBlanks(k + 3);
        if (k < length && (text[k] == u':' || text[k] == u'=' || text[k] == 0xFF1A)) k = skipBlanks(k + 1);
    }
    m_stated = k == onlyBareAt && skipBlanks(k + 32) == length;
}

Verdict CExpectedDigests::Check(const char16_t* path, std::size_t pathLength, const char* digest,
                                bool single) const {
    std::uint64_t hi, lo;
    if (!digest || std::strlen(digest) != 32 || !ReadValue(digest, hi, lo)) return Verdict::kNone;

    bool applies = false;
    bool matches = false;
    if (!m_names.empty() && path) {
        std::u16string p;
        p.reserve(pathLength);
        AppendNormalized(path, pathLength, p);
        // The whole path, every part after a backslash, and after a drive.
        std::uint64_t hash = kHashSeed;
        for (std::size_t i = p.size(); i-- > 0 && !matches;) {
            hash = HashStep(hash, p[i]);
            if (i != 0 && p[i - 1] != u'\\' && !(i == 2 && p[1] == u':')) continue;
            const std::uint32_t id = FindName(p.data() + i, p.size() - i, hash);
            if (id == kBare) continue;
            applies = true;
            matches = HasEntry(id, hi, lo);
        }
    }
    if (matches || HasEntry(kBare, hi, lo)) return Verdict::kMatch;
    if (applies || (single && m_stated)) return Verdict::kDiffer;
    return Verdict::kNone;
}
