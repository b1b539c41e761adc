#include "jobs/FilePath.h"

#include <windows.h>

#include <vector>

namespace {

bool IsSep(wchar_t c) { return c == L'\\' || c == L'/'; }
bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// Splits text into its names at separators and appends them to names,
// taking "." and ".." out as the system does; ".." never climbs above the
// first keep names.
void AppendNames(const CStringW& text, size_t keep, std::vector<CStringW>* names) {
    const wchar_t* s = text.c_str();
    const int len = text.GetLength();
    int start = 0;
    for (int i = 0; i <= len; ++i) {
        if (i < len && !IsSep(s[i])) continue;
        const CStringW name(s + start, i - start);
        start = i + 1;
        if (name.IsEmpty() || name == CStringW(L".")) continue;
        if (name == CStringW(L"..")) {
            if (names->size() > keep) names->pop_back();
            continue;
        }
        names->push_back(name);
    }
}

}  // namespace

CStringW ExtendedPath(const wchar_t* path) {
    CStringW p(path);
    if (p.IsEmpty()) return p;
    if (p.GetLength() >= 4 && IsSep(p[0]) && IsSep(p[1]) && (p[2] == L'?' || p[2] == L'.') && IsSep(p[3])) return p;

    // Paths come from the Open dialog and from drops: full paths, on a drive
    // ("C:\...") or a share ("\\server\share\..."). Anything else names no
    // file of the user's and is left as it is.
    const bool unc = IsSep(p[0]) && IsSep(p[1]);
    const bool drive = p.GetLength() >= 3 && IsDriveLetter(p[0]) && p[1] == L':' && IsSep(p[2]);
    if (!unc && !drive) return p;

    // "\\?\C:" or "\\?\UNC", then the names: for UNC the server and the
    // share come first and ".." never climbs above them.
    std::vector<CStringW> names;
    CStringW out = unc ? CStringW(L"\\\\?\\UNC") : CStringW(L"\\\\?\\") + p.Left(2);
    const size_t keep = unc ? 2 : 0;
    AppendNames(p.Mid(2), keep, &names);
    for (const CStringW& name : names) {
        out += L"\\";
        out += name;
    }
    // A drive's root keeps its backslash ("\\?\C:\").
    if (names.size() <= keep) out += L"\\";
    return out;
}
