// The reference for the folder benchmark: the least a program must do to
// digest every file below a folder the way Quellin does, with no window.
// A Windows console program, run under Wine by scripts/bench (not a test).
//
// It walks the folder recursively with FindFirstFileA/FindNextFileA and, for
// each file found, pauses 1 ms (the pause the program makes after each walked
// file), then digests the file: fopen + fread in 1024-byte chunks + the
// system's MD5 (CryptoAPI). The timer resolution is set to 1 ms around the
// run, so that Sleep(1) is a 1 ms pause on Windows too (Wine's always is).
//
// Usage: walker FOLDER [--digests]
// Prints one line with the file count, the time and the time per file, then
// "RESULT name=value" lines for scripts/bench; with --digests, after the
// timing, one "md5 path" line per file (32 lowercase hex digits, a space,
// the path as found), or "failed path" for a file that could not be read.
#include <windows.h>

#include <mmsystem.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "tests/hex.h"

namespace {

HCRYPTPROV s_prov = 0;
std::vector<std::pair<std::string, std::string>> s_results;  // path, digest ("" when it failed)

std::string DigestOf(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return std::string();
    HCRYPTHASH hash = 0;
    std::string hex;
    if (CryptCreateHash(s_prov, CALG_MD5, 0, 0, &hash)) {
        unsigned char chunk[1024];
        bool ok = true;
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
            if (!CryptHashData(hash, chunk, static_cast<DWORD>(n), 0)) ok = false;
        if (std::ferror(f)) ok = false;
        BYTE d[16];
        DWORD len = sizeof d;
        if (ok && CryptGetHashParam(hash, HP_HASHVAL, d, &len, 0) && len == sizeof d) {
            hex = Hex(d);
        }
        CryptDestroyHash(hash);
    }
    std::fclose(f);
    return hex;
}

void Walk(const std::string& folder) {
    WIN32_FIND_DATAA fd;
    const HANDLE h = FindFirstFileA((folder + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        if (std::strcmp(fd.cFileName, ".") == 0 || std::strcmp(fd.cFileName, "..") == 0) continue;
        const std::string path = folder + "\\" + fd.cFileName;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            Walk(path);
        } else {
            Sleep(1);
            s_results.emplace_back(path, DigestOf(path));
        }
    } while (FindNextFileA(h, &fd));
    FindClose(h);
}

double Now() {
    static LARGE_INTEGER freq = [] { LARGE_INTEGER f; QueryPerformanceFrequency(&f); return f; }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(freq.QuadPart);
}

}  // namespace

int main(int argc, char** argv) {
    std::string folder;
    bool digests = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--digests") == 0) digests = true;
        else if (folder.empty() && argv[i][0] != '-') folder = argv[i];
        else folder.clear(), i = argc;
    }
    if (folder.empty()) {
        std::fprintf(stderr, "usage: %s FOLDER [--digests]\n", argv[0]);
        return 2;
    }
    while (folder.size() > 1 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
    if (!CryptAcquireContextA(&s_prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        std::fprintf(stderr, "CryptAcquireContext failed (error %lu)\n", GetLastError());
        return 1;
    }
    s_results.reserve(1 << 17);

    timeBeginPeriod(1);
    const double t0 = Now();
    Walk(folder);
    const double seconds = Now() - t0;
    timeEndPeriod(1);
    CryptReleaseContext(s_prov, 0);

    size_t failed = 0;
    for (const auto& r : s_results)
        if (r.second.empty()) ++failed;
    const size_t n = s_results.size();
    const double msPerFile = n ? seconds * 1000 / n : 0.0;
    std::printf("walker: %zu files (%zu unreadable), %.1f ms, %.4f ms per file\n", n, failed, seconds * 1000, msPerFile);
    std::printf("RESULT walker_files=%zu\nRESULT walker_failed=%zu\nRESULT walker_ms=%.1f\nRESULT walker_ms_per_file=%.4f\n",
                n, failed, seconds * 1000, msPerFile);
    if (digests)
        for (const auto& r : s_results)
            std::printf("%s %s\n", r.second.empty() ? "failed" : r.second.c_str(), r.first.c_str());
    return n > 0 && failed == 0 ? 0 : 1;
}
