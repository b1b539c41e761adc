#include "digest/Md5.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "tests/hex.h"
#include "tests/native/oracle.h"

namespace {

// The layout is relied upon by code that keeps the context as raw memory.
static_assert(offsetof(MD5_CTX, state) == 0 && offsetof(MD5_CTX, count) == 16 &&
                  offsetof(MD5_CTX, buffer) == 24 && offsetof(MD5_CTX, reverseBytes) == 88 &&
                  sizeof(MD5_CTX) == 92,
              "MD5_CTX layout");

// Feeds data in pieces of at most `piece` bytes (0: in one call).
Digest Md5(const unsigned char* data, std::size_t len, std::size_t piece = 0) {
    MD5_CTX ctx;
    MD5Init(&ctx);
    if (piece == 0) piece = len ? len : 1;
    for (std::size_t off = 0; off < len; off += piece) {
        const std::size_t n = std::min(piece, len - off);
        MD5Update(&ctx, data + off, static_cast<std::uint32_t>(n));
    }
    Digest d;
    MD5Final(d.data(), &ctx);
    return d;
}

const std::uint32_t kInit[4] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};

TEST(Md5KnownAnswers, Rfc1321Suite) {
    const struct { const char* msg; const char* md5; } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"1234567890123456789012345678901234567890123456789012345678901234567890123456789"
         "0",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : cases) {
        const auto* p = reinterpret_cast<const unsigned char*>(c.msg);
        EXPECT_EQ(Hex(Md5(p, std::strlen(c.msg))), c.md5) << '"' << c.msg << '"';
    }
}

TEST(Md5Oracle, EveryLengthAndSplitAgreesWithOpenSsl) {
    const auto data = Pattern(1100);
    std::mt19937 rng(7);
    for (std::size_t len = 0; len <= 1100; ++len) {
        if (len == 201) len = 1000;
        const Digest want = OpenSslMd5(data.data(), len);
        EXPECT_EQ(Md5(data.data(), len), want) << "one call, len " << len;
        EXPECT_EQ(Md5(data.data(), len, 1024), want) << "1024-byte pieces, len " << len;
        EXPECT_EQ(Md5(data.data(), len, 1), want) << "byte by byte, len " << len;
        for (int trial = 0; trial < 4; ++trial) {
            MD5_CTX ctx;
            MD5Init(&ctx);
            for (std::size_t off = 0; off < len;) {
                const std::size_t n = std::min<std::size_t>(rng() % 150, len - off);
                MD5Update(&ctx, data.data() + off, static_cast<std::uint32_t>(n));
                off += n;
            }
            Digest got;
            MD5Final(got.data(), &ctx);
            EXPECT_EQ(got, want) << "random split, len " << len;
        }
    }
}

// The padded message laid out by hand and compressed block by block: 55
// bytes still fit the length into the first block, 56..63 need a second.
TEST(Md5Padding, LengthFitsOneBlockUpTo55Bytes) {
    const auto msg = Pattern(63, 3);
    for (std::size_t len = 50; len <= 63; ++len) {
        unsigned char blocks[128] = {};
        std::memcpy(blocks, msg.data(), len);
        blocks[len] = 0x80;
        const std::size_t nblocks = len <= 55 ? 1 : 2;
        const std::uint64_t bits = len * 8;
        for (int i = 0; i < 8; ++i)
            blocks[nblocks * 64 - 8 + i] = static_cast<unsigned char>(bits >> (8 * i));
        std::uint32_t state[4];
        std::memcpy(state, kInit, sizeof state);
        std::uint32_t words[16];
        for (std::size_t b = 0; b < nblocks; ++b) {
            std::memcpy(words, blocks + 64 * b, 64);
            MD5Transform(state, words);
        }
        Digest want;
        std::memcpy(want.data(), state, 16);
        EXPECT_EQ(Md5(msg.data(), len), want) << "len " << len;
    }
}

TEST(Md5Context, UpdateThatFillsTheBufferCompressesIt) {
    const auto data = Pattern(64, 5);
    MD5_CTX ctx;
    MD5Init(&ctx);
    MD5Update(&ctx, data.data(), 10);
    EXPECT_EQ(0, std::memcmp(ctx.state, kInit, 16)) << "partial block must wait";
    MD5Update(&ctx, data.data() + 10, 54);
    EXPECT_EQ((ctx.count[0] / 8) % 64, 0u);
    EXPECT_EQ(ctx.count[0], 512u);
    std::uint32_t want[4];
    std::memcpy(want, kInit, sizeof want);
    std::uint32_t words[16];
    std::memcpy(words, data.data(), 64);
    MD5Transform(want, words);
    EXPECT_EQ(0, std::memcmp(ctx.state, want, 16));
}

TEST(Md5Context, ZeroLengthUpdateChangesNothing) {
    const auto data = Pattern(100, 9);
    MD5_CTX ctx;
    MD5Init(&ctx);
    MD5Update(&ctx, data.data(), 37);
    MD5_CTX before;
    std::memcpy(&before, &ctx, sizeof ctx);
    MD5Update(&ctx, data.data() + 37, 0);
    EXPECT_EQ(0, std::memcmp(&before, &ctx, sizeof ctx));
}

// reverseBytes is set so the last field has something to wipe; on a
// little-endian machine the reversal is the identity, so that also runs its
// paths through Update and Final without changing the digest.
TEST(Md5Context, FinalWipesTheWholeContext) {
    const auto data = Pattern(200, 11);
    for (std::uint32_t len : {0u, 55u, 60u, 200u}) {
        MD5_CTX ctx;
        std::memset(&ctx, 0xab, sizeof ctx);
        MD5Init(&ctx);
        ctx.reverseBytes = 1;
        MD5Update(&ctx, data.data(), len / 3);
        MD5Update(&ctx, data.data() + len / 3, len - len / 3);
        Digest d;
        MD5Final(d.data(), &ctx);
        EXPECT_EQ(d, OpenSslMd5(data.data(), len)) << "len " << len;
        const auto* p = reinterpret_cast<const unsigned char*>(&ctx);
        for (std::size_t i = 0; i < sizeof ctx; ++i) ASSERT_EQ(p[i], 0) << "len " << len << " byte " << i;
    }
}

TEST(Md5ByteOrder, ByteReverseBuildsLittleEndianWords) {
    unsigned char buf[12] = {0x01, 0x02, 0x03, 0x04, 0x80, 0x00, 0x00, 0xff, 0xaa, 0xbb, 0xcc, 0xdd};
    byteReverse(buf, 2);
    std::uint32_t w[2];
    std::memcpy(w, buf, 8);
    EXPECT_EQ(w[0], 0x04030201u);
    EXPECT_EQ(w[1], 0xff000080u);
    EXPECT_EQ(buf[8], 0xaa);  // past `longs` words: untouched
    EXPECT_EQ(buf[11], 0xdd);
}

// 2^29 bytes are 2^32 bits: the length no longer fits the low count word.
// A real message of 13 + 2^29 bytes (the big call brings len >> 29 into
// the high word) checked against OpenSSL; hashing it twice more would
// double the time of this test in a sanitizer build, so the carry out of
// the low word is checked on a context whose count is about to wrap.
TEST(Md5LongMessage, LengthPast2To32BitsReachesTheHighCountWord) {
    constexpr std::size_t kBig = std::size_t{1} << 29;
    // Mostly zeros (filling 512 MiB byte by byte is slow in a debug build),
    // with varied bytes at both ends and every 64 MiB.
    std::vector<unsigned char> data(13 + kBig);
    const auto head = Pattern(100000, 17);
    std::memcpy(data.data(), head.data(), head.size());
    std::memcpy(data.data() + data.size() - head.size(), head.data(), head.size());
    for (std::size_t off = std::size_t{1} << 26; off < kBig; off += std::size_t{1} << 26)
        std::memcpy(data.data() + off - 500, head.data(), 1000);

    MD5_CTX ctx;
    MD5Init(&ctx);
    MD5Update(&ctx, data.data(), 13);
    MD5Update(&ctx, data.data() + 13, static_cast<std::uint32_t>(kBig));
    EXPECT_EQ(ctx.count[0], 13u * 8);
    EXPECT_EQ(ctx.count[1], 1u);
    Digest d;
    MD5Final(d.data(), &ctx);
    EXPECT_EQ(d, OpenSslMd5(data));
}

TEST(Md5LongMessage, LowCountWordCarriesIntoHighWord) {
    MD5_CTX ctx;
    MD5Init(&ctx);
    ctx.count[0] = 0xffffff00u;  // 32 bytes short of 2^29, 32 bytes waiting
    ctx.count[1] = 7;
    const auto data = Pattern(40, 19);
    MD5Update(&ctx, data.data(), 40);
    EXPECT_EQ(ctx.count[0], 0x40u);
    EXPECT_EQ(ctx.count[1], 8u);
    MD5Update(&ctx, data.data(), 40);  // no carry this time
    EXPECT_EQ(ctx.count[0], 0x180u);
    EXPECT_EQ(ctx.count[1], 8u);
}

}  // namespace
