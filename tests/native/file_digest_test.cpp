#include "digest/FileDigest.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "digest/ProgressScale.h"
#include "jobs/RunFlag.h"
#include "tests/hex.h"
#include "tests/native/oracle.h"

using Call = std::pair<int, std::uint64_t>;
static std::vector<Call> g_calls;
static std::uint64_t g_stopAtChunk = 0;  // 0: never stop

// The program's ReportProgress drives the window; this one records.
void ReportProgress(int mode, std::uint64_t value) {
    g_calls.emplace_back(mode, value);
    if (mode == 1 && value == g_stopAtChunk) g_bWorking = 0;
}

namespace {

// The first report carries the file's size in KiB, as the digest's own open
// file tells it; then one per chunk.
std::vector<Call> Calls(std::uint64_t sizeKiB, std::uint64_t lastChunk) {
    std::vector<Call> v{{0, sizeKiB}};
    for (std::uint64_t i = 1; i <= lastChunk; ++i) v.emplace_back(1, i);
    return v;
}

class DigestFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/quellin-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        g_calls.clear();
        g_stopAtChunk = 0;
        g_bWorking = 1;
        std::memset(out_, 0xee, sizeof out_);
    }
    void TearDown() override {
        for (const auto& f : files_) unlink(f.c_str());
        rmdir(dir_.c_str());
        g_bWorking = 0;
    }

    std::string Write(const std::vector<unsigned char>& data) {
        const std::string path = NewPath();
        FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr) {
            ADD_FAILURE() << "cannot create " << path;
            return path;
        }
        if (!data.empty()) {
            EXPECT_EQ(std::fwrite(data.data(), 1, data.size(), f), data.size());
        }
        std::fclose(f);
        return path;
    }
    std::string Sparse(off_t size) {
        const std::string path = Write({});
        EXPECT_EQ(truncate(path.c_str(), size), 0);
        return path;
    }
    std::string NewPath() {
        files_.push_back(dir_ + "/f" + std::to_string(files_.size()));
        return files_.back();
    }

    std::string Text() const { return std::string(reinterpret_cast<const char*>(out_)); }
    bool OutUntouched() const {
        for (unsigned char b : out_)
            if (b != 0xee) return false;
        return true;
    }

    std::string dir_;
    std::vector<std::string> files_;
    unsigned char out_[40];
};

TEST_F(DigestFileTest, SmallFilesReportOnePerChunk) {
    const struct { std::size_t size; std::uint64_t kib, lastChunk; } cases[] = {
        {0, 0, 1}, {1, 0, 1}, {1024, 1, 1}, {1025, 1, 2}, {200003, 195, 196}};
    for (const auto& c : cases) {
        const auto data = Pattern(c.size, static_cast<std::uint32_t>(c.size));
        const std::string path = Write(data);
        g_calls.clear();
        ASSERT_EQ(DigestFile(path.c_str(), out_, 0), 0) << c.size;
        EXPECT_EQ(Text(), Hex(OpenSslMd5(data))) << c.size;
        EXPECT_EQ(g_calls, Calls(c.kib, c.lastChunk)) << c.size;
    }
}

TEST_F(DigestFileTest, TextAndRawForms) {
    const auto data = Pattern(5000);
    const std::string path = Write(data);
    const Digest want = OpenSslMd5(data);

    ASSERT_EQ(DigestFile(path.c_str(), out_, 0), 0);
    EXPECT_EQ(Text(), Hex(want));  // 32 lowercase digits, digest byte 0 first
    EXPECT_EQ(out_[32], 0);
    EXPECT_EQ(out_[33], 0xee);

    std::memset(out_, 0xee, sizeof out_);
    ASSERT_EQ(DigestFile(path.c_str(), out_, 1), 0);
    EXPECT_EQ(0, std::memcmp(out_, want.data(), 16));
    EXPECT_EQ(out_[16], 0xee);
}

// 9999 KiB is the largest size whose bar needs no scaling; 10000 KiB is the
// first that does. Either way the last report lands on the bar's maximum.
TEST_F(DigestFileTest, LargeFilesReachTheEndOfTheBar) {
    const std::vector<unsigned char> zeros(10240000);
    for (off_t size : {off_t{10238976}, off_t{10240000}}) {
        const std::string path = Sparse(size);
        g_calls.clear();
        ASSERT_EQ(DigestFile(path.c_str(), out_, 0), 0);
        EXPECT_EQ(Text(), Hex(OpenSslMd5(zeros.data(), static_cast<std::size_t>(size))));
        const std::uint64_t chunks = static_cast<std::uint64_t>(size) / 1024;
        EXPECT_EQ(g_calls, Calls(chunks, chunks));
        const ProgressScale s = ScaleForBytes(static_cast<std::uint64_t>(size));
        EXPECT_EQ(ScaledPosition(g_calls.back().second, s.shift), s.range);
    }
}

TEST_F(DigestFileTest, StopBeforeFirstChunkGivesEmptyDigest) {
    const std::string path = Write(Pattern(3000));
    g_bWorking = 0;
    ASSERT_EQ(DigestFile(path.c_str(), out_, 0), 0);
    EXPECT_EQ(Text(), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(g_calls, Calls(2, 1));
}

TEST_F(DigestFileTest, StopDuringChunkFiveDigestsFiveChunks) {
    const auto data = Pattern(20 * 1024);
    const std::string path = Write(data);
    g_stopAtChunk = 5;
    ASSERT_EQ(DigestFile(path.c_str(), out_, 0), 0);
    EXPECT_EQ(Text(), Hex(OpenSslMd5(data.data(), 5 * 1024)));
    EXPECT_EQ(g_calls, Calls(20, 5));
}

TEST_F(DigestFileTest, MissingFileFailsWithoutProgress) {
    EXPECT_EQ(DigestFile((dir_ + "/missing").c_str(), out_, 0), 1);
    EXPECT_TRUE(g_calls.empty());
    EXPECT_TRUE(OutUntouched());
}

// A directory opens for reading on Linux (it has no file size), and the
// first read fails (EISDIR).
TEST_F(DigestFileTest, ReadErrorFailsAndLeavesOutUntouched) {
    EXPECT_EQ(DigestFile(dir_.c_str(), out_, 0), 1);
    EXPECT_EQ(g_calls, Calls(0, 1));
    EXPECT_TRUE(OutUntouched());
}

}  // namespace
