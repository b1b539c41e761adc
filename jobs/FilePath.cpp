#include "jobs/FilePath.h"

#include <windows.h>

#include <cstring>
#include <vector>

namespace {

bool IsSep(char c) { return c == '\\' || c == '/'; }
bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Splits text into its names at real separators (never at the trail byte of
// a double-byte character) and appends them to names, taking "." and ".."
// out as the system does; ".." never climbs above the first keep names.
void AppendNames(const CString& text, size_t keep, std::vector<CString>* names) {
    const char* s = text.c_str();
    const int len = text.GetLength();
    int start = 0;
    for (int i = 0; i <= len; ++i) {
        if (i < len && ::IsDBCSLeadByte(static_cast<BYTE>(s[i])) && i + 1 < len) {
            ++i;
            continue;
        }
        if (i < len && !IsSep(s[i])) continue;
        const CString name(s + start, i - start);
        start = i + 1;
        if (name.IsEmpty() || std::strcmp(name, ".") == 0) continue;
        if (std::strcmp(name, "..") == 0) {
            if (names->size() > keep) names->pop_back();
            continue;
        }
        names->push_back(name);
    }
}

CString CurrentFolder() {
    const DWORD need = ::GetCurrentDirectoryA(0, nullptr);
    std::vector<char> buf(need + 1);
    const DWORD got = ::GetCurrentDirectoryA(need + 1, buf.data());
    return got > 0 && got <= need ? CString(buf.data(), static_cast<int>(got)) : CString();
}

}  // namespace

CString ExtendedPath(const char* path) {
    CString p(path);
    if (p.IsEmpty()) return p;
    if (p.GetLength() >= 4 && IsSep(p[0]) && IsSep(p[1]) && (p[2] == '?' || p[2] == '.') && IsSep(p[3])) return p;

    // A path without a root of its own hangs from the current folder.
    const bool unc = IsSep(p[0]) && IsSep(p[1]);
    const bool drive = p.GetLength() >= 2 && IsDriveLetter(p[0]) && p[1] == ':';
    if (!unc && !drive) {
        const CString here = CurrentFolder();
        if (here.IsEmpty()) return p;
        if (!IsSep(p[0])) {
            p = here + "\\" + p;
        } else if (IsSep(here[0])) {
            // The root of a UNC current folder: its server and share.
            std::vector<CString> root;
            AppendNames(here, 2, &root);
            root.resize(root.size() < 2 ? root.size() : 2);
            CString share = "\\";
            for (const CString& name : root) {
                share += "\\";
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
        const char root[3] = {p[0], ':', '\0'};
        std::vector<char> buf(MAX_PATH * 2);
        const DWORD got = ::GetFullPathNameA(root, static_cast<DWORD>(buf.size()), buf.data(), nullptr);
        if (got < 3 || got >= buf.size()) return p;
        return ExtendedPath(CString(buf.data(), static_cast<int>(got)) + "\\" + p.Mid(2));
    }

    // "\\?\C:" or "\\?\UNC", then the names: for UNC the server and the
    // share come first and ".." never climbs above them.
    std::vector<CString> names;
    CString out = unc ? CString("\\\\?\\UNC") : CString("\\\\?\\") + p.Left(2);
    const size_t keep = unc ? 2 : 0;
    AppendNames(p.Mid(2), keep, &names);
    for (const CString& name : names) {
        out += "\\";
        out += name;
    }
    // A drive's root keeps its backslash ("\\?\C:\").
    if (names.size() <= keep) out += "\\";
    return out;
}

std::wstring ExtendedPathW(const char* path) {
    const CString p = ExtendedPath(path);
    const int n = ::MultiByteToWideChar(CP_ACP, 0, p.c_str(), p.GetLength(), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    if (n > 0) ::MultiByteToWideChar(CP_ACP, 0, p.c_str(), p.GetLength(), &out[0], n);
    return out;
}
