// Throughput of the MD5 engine against OpenSSL, and of DigestFile against
// md5sum on a cached file. Not a test: run by hand (see CMakeLists.txt).
#include <openssl/evp.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "digest/FileDigest.h"
#include "digest/Md5.h"
#include "jobs/RunFlag.h"
#include "tests/hex.h"

#ifndef QUELLIN_STREAM_BUFFER_KIB
#define QUELLIN_STREAM_BUFFER_KIB 64
#endif

// What a cheap progress sink costs: remember the last value.
static std::atomic<std::uint64_t> g_lastProgress{0};
void ReportProgress(int, std::uint64_t value) {
    g_lastProgress.store(value, std::memory_order_relaxed);
}

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::string CpuModel() {
    std::ifstream in("/proc/cpuinfo");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
    return "unknown";
}

void EngineVsOpenSsl(int runs) {
    const std::uint32_t size = 256u << 20;
    std::vector<unsigned char> data(size);
    std::uint32_t x = 2463534242u;
    for (auto& b : data) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        b = static_cast<unsigned char>(x);
    }

    std::vector<double> ours, theirs;
    unsigned char d1[16], d2[16];
    for (int r = 0; r < runs; ++r) {
        auto t = Clock::now();
        MD5_CTX ctx;
        MD5Init(&ctx);
        MD5Update(&ctx, data.data(), size);
        MD5Final(d1, &ctx);
        ours.push_back(size / Seconds(t) / (1 << 20));

        t = Clock::now();
        unsigned int n = 0;
        EVP_Digest(data.data(), size, d2, &n, EVP_md5(), nullptr);
        theirs.push_back(size / Seconds(t) / (1 << 20));
        if (std::memcmp(d1, d2, 16) != 0) std::printf("  DIGESTS DIFFER: %s vs %s\n", Hex(d1).c_str(), Hex(d2).c_str());
    }
    const double a = Median(ours), b = Median(theirs);
    std::printf("MD5Update, 256 MiB buffer, median of %d interleaved runs:\n", runs);
    std::printf("  engine   %8.1f MiB/s\n  OpenSSL  %8.1f MiB/s\n  ratio    %8.3f (engine / OpenSSL)\n", a, b, a / b);
    // Every run, for scripts/bench's summary (medians and spreads).
    for (int r = 0; r < runs; ++r) std::printf("RESULT engine_mibs=%.1f\nRESULT openssl_mibs=%.1f\n", ours[r], theirs[r]);
}

// Runs md5sum on path; returns its hex digest.
std::string Md5sum(const std::string& path) {
    const std::string cmd = "md5sum '" + path + "'";
    FILE* p = popen(cmd.c_str(), "r");
    char out[33] = {};
    if (p == nullptr || std::fread(out, 1, 32, p) != 32) std::printf("  md5sum failed\n");
    if (p != nullptr) pclose(p);
    return out;
}

void FileVsMd5sum(int runs) {
    const char* tmp = getenv("TMPDIR");
    std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/quellin-bench-XXXXXX";
    if (mkdtemp(&dir[0]) == nullptr) {
        std::perror("mkdtemp");
        return;
    }
    const std::string path = dir + "/1GiB.bin";
    {
        std::vector<unsigned char> block(1 << 20);
        std::uint32_t x = 88172645u;
        FILE* f = std::fopen(path.c_str(), "wb");
        for (int i = 0; i < 1024 && f; ++i) {
            for (auto& b : block) {
                x ^= x << 13, x ^= x >> 17, x ^= x << 5;
                b = static_cast<unsigned char>(x);
            }
            std::fwrite(block.data(), 1, block.size(), f);
        }
        if (f) std::fclose(f);
    }
    const std::string want = Md5sum(path);  // also warms the page cache

    std::vector<double> ours, theirs;
    for (int r = 0; r < runs; ++r) {
        unsigned char out[33];
        auto t = Clock::now();
        const int rc = DigestFile(path.c_str(), out, 0);
        ours.push_back(Seconds(t));
        if (rc != 0 || want != reinterpret_cast<char*>(out)) std::printf("  DIGEST MISMATCH\n");

        t = Clock::now();
        Md5sum(path);
        theirs.push_back(Seconds(t));
    }
    unlink(path.c_str());
    rmdir(dir.c_str());

    const double a = Median(ours), b = Median(theirs);
    if (QUELLIN_STREAM_BUFFER_KIB == 0)
        std::printf("DigestFile on a cached 1 GiB file (C runtime's stream buffer), median of %d:\n", runs);
    else
        std::printf("DigestFile on a cached 1 GiB file (stream buffer %d KiB), median of %d:\n",
                    QUELLIN_STREAM_BUFFER_KIB, runs);
    std::printf("  DigestFile %7.3f s (%6.1f MiB/s)\n  md5sum     %7.3f s (%6.1f MiB/s)\n"
                "  ratio      %7.3f (DigestFile time / md5sum time)\n",
                a, 1024 / a, b, 1024 / b, a / b);
    for (int r = 0; r < runs; ++r) std::printf("RESULT digestfile_s=%.4f\nRESULT md5sum_s=%.4f\n", ours[r], theirs[r]);
}

}  // namespace

int main(int argc, char** argv) {
    const bool fileOnly = argc > 1 && std::strcmp(argv[1], "--file-only") == 0;
    std::printf("CPU: %s\n", CpuModel().c_str());
    g_bWorking = 1;
    if (!fileOnly) EngineVsOpenSsl(7);
    FileVsMd5sum(3);
    return 0;
}
