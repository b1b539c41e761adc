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

CStringW CurrentFolder() {
    const DWORD need = ::GetCurrentDirectoryW(0, nullptr);
    std::vector<wchar_t> buf(need + 1);
    const DWORD got = ::GetCurrentDirectoryW(need + 1, buf.data());
    return got > 0 && got <= need ? CStringW(buf.data(), static_cast<int>(got)) : CStringW();
}

}  // namespace

CStringW ExtendedPath(const wchar_t* path) {
    CStringW p(path);
    if (p.IsEmpty()) return p;
    if (p.GetLength() >= 4 && IsSep(p[0]) && IsSep(p[1]) && (p[2] == L'?' || p[2] == L'.') && IsSep(p[3])) return p;

    // A path without a root of its own hangs from the current folder.
    const bool unc = IsSep(p[0]) && IsSep(p[1]);
    const bool drive = p.GetLength() >= 2 && IsDriveLetter(p[0]) && p[1] == L':';
    if (!unc && !drive) {
        const CStringW here = CurrentFolder();
        if (here.IsEmpty()) return p;
        if (!IsSep(p[0])) {
            p = here + L"\\" + p;
        } else if (IsSep(here[0])) {
            // The root of a UNC current folder: its server and share.
            std::vector<CStringW> root;
            AppendNames(here, 2, &root);
            root.resize(root.size() < 2 ? root.size() : 2);
            CStringW share = L"\\";
            for (const CStringW& name : root) {
                share += L"\\";
                share += name;
            }
            p = share + p;
        } else {
            p = here.Left(2) + p;
        }
        return ExtendedPath(p);
    }
    if (drive && !(p.GetLength() >= 3 && IsSep(p[2]))) {
        // "C:name": relative to that drive's current folder.
        const wchar_t root[3] = {p[0], L':', L'\0'};
        std::vector<wchar_t> buf(MAX_PATH * 2);
        const DWORD got = ::GetFullPathNameW(root, static_cast<DWORD>(buf.size()), buf.data(), nullptr);
        if (got < 3 || got >= buf.size()) return p;
        return ExtendedPath(CStringW(buf.data(), static_cast<int>(got)) + L"\\" + p.Mid(2));
    }

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
