// libFuzzer target for the expected digests read from copied text. Any text
// must parse and check without a fault, and the verdicts must keep to the
// rules that hold whatever the text:
//   - a row matches exactly when the single file of the same path and digest
//     does; a row that differs differs as a single file too, and a single
//     file differs where its row does not only when the text states a value;
//   - the case of the digest, '/' for '\' in the path and the ASCII case of
//     the path change nothing, nor do LF line ends written as CR LF;
//   - what is shown for a file that is no digest gets no verdict;
//   - a copy gives the same verdicts.
// The first byte picks how the rest becomes text: even, one byte a character
// (so the fuzzer finds the forms quickly); odd, two bytes a UTF-16 code unit.
// The digest checked is the text's first 32 units, the path its last line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "digest/ExpectedDigests.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

struct CVerdicts {
    Verdict single, row;
};

CVerdicts VerdictsOf(const CExpectedDigests& e, const std::u16string& path, const std::string& digest) {
    return {e.Check(path.data(), path.size(), digest.c_str(), true),
            e.Check(path.data(), path.size(), digest.c_str(), false)};
}

bool Same(const CVerdicts& a, const CVerdicts& b) { return a.single == b.single && a.row == b.row; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::u16string text;
    if (data[0] % 2 == 0) {
        text.assign(data + 1, data + size);
    } else {
        for (std::size_t i = 1; i + 1 < size; i += 2)
            text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    }

    CExpectedDigests e;
    e.Parse(text.data(), text.size());
    Check(e.Empty() == (e.BareCount() + e.NamedCount() == 0));
    Check(!e.Stated() || (e.BareCount() == 1 && e.NamedCount() == 0));

    std::string digest, upper;
    for (std::size_t i = 0; i < 32 && i < text.size(); ++i) {
        const char16_t c = text[i];
        digest += c > 0 && c < 0x80 ? static_cast<char>(c) : '?';
        upper += c >= u'a' && c <= u'z' ? static_cast<char>(c - 32) : digest.back();
    }
    const std::size_t lastLine = text.find_last_of(u"\r\n");
    const std::u16string path = lastLine == std::u16string::npos ? text : text.substr(lastLine + 1);

    const CVerdicts v = VerdictsOf(e, path, digest);
    Check((v.row == Verdict::kMatch) == (v.single == Verdict::kMatch));
    Check(v.row != Verdict::kDiffer || v.single == Verdict::kDiffer);
    Check(!(v.single == Verdict::kDiffer && v.row == Verdict::kNone) || e.Stated());
    Check(Same(VerdictsOf(e, path, upper), v));
    Check(Same(VerdictsOf(e, path, "\xE5\xA4\xB1\xE8\xB4\xA5"), {Verdict::kNone, Verdict::kNone}));

    std::u16string slashed = path, shouted = path;
    for (char16_t& c : slashed)
        if (c == u'\\') c = u'/';
    for (char16_t& c : shouted)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
    Check(Same(VerdictsOf(e, slashed, digest), v));
    Check(Same(VerdictsOf(e, shouted, digest), v));

    std::u16string crlf;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\n' && (i == 0 || text[i - 1] != u'\r')) crlf += u'\r';
        crlf += text[i];
    }
    CExpectedDigests other;
    other.Parse(crlf.data(), crlf.size());
    Check(other.BareCount() == e.BareCount() && other.NamedCount() == e.NamedCount());
    Check(other.Stated() == e.Stated());
    Check(Same(VerdictsOf(other, path, digest), v));

    const CExpectedDigests copy = e;
    e.Clear();
    Check(e.Empty() && Same(VerdictsOf(copy, path, digest), v));
    return 0;
}
