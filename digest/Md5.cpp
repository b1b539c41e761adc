#include "digest/Md5.h"

#include <cstring>

namespace {

inline std::uint32_t Rotl(std::uint32_t x, int s) {
    return (x << s) | (x >> (32 - s));
}

// Message word i of the block at p, in native byte order. memcpy keeps the
// read well defined whatever the block's declared type; it compiles to a
// plain 32-bit load.
inline std::uint32_t Word(const unsigned char* p, int i) {
    std::uint32_t w;
    std::memcpy(&w, p + 4 * i, sizeof w);
    return w;
}

// The four step kinds. Each adds the word and the constant first: that sum
// does not depend on the previous step, so it overlaps with it, and only the
// round function, the rotation and the final add sit on the dependency chain
// through b (the value the previous step produced).

// F(b,c,d) = (b & c) | (~b & d), as a select: one AND and one XOR after b.
template <int S>
inline void StepF(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                  std::uint32_t x, std::uint32_t k) {
    a += x + k;
    a += ((c ^ d) & b) ^ d;
    a = Rotl(a, S) + b;
}

// G(b,c,d) = (b & d) | (c & ~d). The two terms have no bit in common, so
// they may be added separately; c & ~d is ready before b is.
template <int S>
inline void StepG(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                  std::uint32_t x, std::uint32_t k) {
    a += x + k;
    a += c & ~d;
    a += b & d;
    a = Rotl(a, S) + b;
}

// H(b,c,d) = b ^ c ^ d: c ^ d first, then one XOR after b.
template <int S>
inline void StepH(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                  std::uint32_t x, std::uint32_t k) {
    a += x + k;
    a += (c ^ d) ^ b;
    a = Rotl(a, S) + b;
}

// I(b,c,d) = c ^ (b | ~d): ~d first, then OR and XOR after b.
template <int S>
inline void StepI(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                  std::uint32_t x, std::uint32_t k) {
    a += x + k;
    a += (b | ~d) ^ c;
    a = Rotl(a, S) + b;
}

}  // namespace

void byteReverse(unsigned char* buf, unsigned longs) {
    for (; longs != 0; --longs, buf += 4) {
        const std::uint32_t w = static_cast<std::uint32_t>(buf[3]) << 24 |
                                static_cast<std::uint32_t>(buf[2]) << 16 |
                                static_cast<std::uint32_t>(buf[1]) << 8 |
                                static_cast<std::uint32_t>(buf[0]);
        std::memcpy(buf, &w, sizeof w);
    }
}

void MD5Transform(std::uint32_t buf[4], const std::uint32_t in[16]) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(in);
    std::uint32_t a = buf[0];
    std::uint32_t b = buf[1];
    std::uint32_t c = buf[2];
    std::uint32_t d = buf[3];

    // Round 1
    StepF< 7>(a, b, c, d, Word(p,  0), 0xd76aa478u);
    StepF<12>(d, a, b, c, Word(p,  1), 0xe8c7b756u);
    StepF<17>(c, d, a, b, Word(p,  2), 0x242070dbu);
    StepF<22>(b, c, d, a, Word(p,  3), 0xc1bdceeeu);
    StepF< 7>(a, b, c, d, Word(p,  4), 0xf57c0fafu);
    StepF<12>(d, a, b, c, Word(p,  5), 0x4787c62au);
    StepF<17>(c, d, a, b, Word(p,  6), 0xa8304613u);
    StepF<22>(b, c, d, a, Word(p,  7), 0xfd469501u);
    StepF< 7>(a, b, c, d, Word(p,  8), 0x698098d8u);
    StepF<12>(d, a, b, c, Word(p,  9), 0x8b44f7afu);
    StepF<17>(c, d, a, b, Word(p, 10), 0xffff5bb1u);
    StepF<22>(b, c, d, a, Word(p, 11), 0x895cd7beu);
    StepF< 7>(a, b, c, d, Word(p, 12), 0x6b901122u);
    StepF<12>(d, a, b, c, Word(p, 13), 0xfd987193u);
    StepF<17>(c, d, a, b, Word(p, 14), 0xa679438eu);
    StepF<22>(b, c, d, a, Word(p, 15), 0x49b40821u);
    // Round 2
    StepG< 5>(a, b, c, d, Word(p,  1), 0xf61e2562u);
    StepG< 9>(d, a, b, c, Word(p,  6), 0xc040b340u);
    StepG<14>(c, d, a, b, Word(p, 11), 0x265e5a51u);
    StepG<20>(b, c, d, a, Word(p,  0), 0xe9b6c7aau);
    StepG< 5>(a, b, c, d, Word(p,  5), 0xd62f105du);
    StepG< 9>(d, a, b, c, Word(p, 10), 0x02441453u);
    StepG<14>(c, d, a, b, Word(p, 15), 0xd8a1e681u);
    StepG<20>(b, c, d, a, Word(p,  4), 0xe7d3fbc8u);
    StepG< 5>(a, b, c, d, Word(p,  9), 0x21e1cde6u);
    StepG< 9>(d, a, b, c, Word(p, 14), 0xc33707d6u);
    StepG<14>(c, d, a, b, Word(p,  3), 0xf4d50d87u);
    StepG<20>(b, c, d, a, Word(p,  8), 0x455a14edu);
    StepG< 5>(a, b, c, d, Word(p, 13), 0xa9e3e905u);
    StepG< 9>(d, a, b, c, Word(p,  2), 0xfcefa3f8u);
    StepG<14>(c, d, a, b, Word(p,  7), 0x676f02d9u);
    StepG<20>(b, c, d, a, Word(p, 12), 0x8d2a4c8au);
    // Round 3
    StepH< 4>(a, b, c, d, Word(p,  5), 0xfffa3942u);
    StepH<11>(d, a, b, c, Word(p,  8), 0x8771f681u);
    StepH<16>(c, d, a, b, Word(p, 11), 0x6d9d6122u);
    StepH<23>(b, c, d, a, Word(p, 14), 0xfde5380cu);
    StepH< 4>(a, b, c, d, Word(p,  1), 0xa4beea44u);
    StepH<11>(d, a, b, c, Word(p,  4), 0x4bdecfa9u);
    StepH<16>(c, d, a, b, Word(p,  7), 0xf6bb4b60u);
    StepH<23>(b, c, d, a, Word(p, 10), 0xbebfbc70u);
    StepH< 4>(a, b, c, d, Word(p, 13), 0x289b7ec6u);
    StepH<11>(d, a, b, c, Word(p,  0), 0xeaa127fau);
    StepH<16>(c, d, a, b, Word(p,  3), 0xd4ef3085u);
    StepH<23>(b, c, d, a, Word(p,  6), 0x04881d05u);
    StepH< 4>(a, b, c, d, Word(p,  9), 0xd9d4d039u);
    StepH<11>(d, a, b, c, Word(p, 12), 0xe6db99e5u);
    StepH<16>(c, d, a, b, Word(p, 15), 0x1fa27cf8u);
    StepH<23>(b, c, d, a, Word(p,  2), 0xc4ac5665u);
    // Round 4
    StepI< 6>(a, b, c, d, Word(p,  0), 0xf4292244u);
    StepI<10>(d, a, b, c, Word(p,  7), 0x432aff97u);
    StepI<15>(c, d, a, b, Word(p, 14), 0xab9423a7u);
    StepI<21>(b, c, d, a, Word(p,  5), 0xfc93a039u);
    StepI< 6>(a, b, c, d, Word(p, 12), 0x655b59c3u);
    StepI<10>(d, a, b, c, Word(p,  3), 0x8f0ccc92u);
    StepI<15>(c, d, a, b, Word(p, 10), 0xffeff47du);
    StepI<21>(b, c, d, a, Word(p,  1), 0x85845dd1u);
    StepI< 6>(a, b, c, d, Word(p,  8), 0x6fa87e4fu);
    StepI<10>(d, a, b, c, Word(p, 15), 0xfe2ce6e0u);
    StepI<15>(c, d, a, b, Word(p,  6), 0xa3014314u);
    StepI<21>(b, c, d, a, Word(p, 13), 0x4e0811a1u);
    StepI< 6>(a, b, c, d, Word(p,  4), 0xf7537e82u);
    StepI<10>(d, a, b, c, Word(p, 11), 0xbd3af235u);
    StepI<15>(c, d, a, b, Word(p,  2), 0x2ad7d2bbu);
    StepI<21>(b, c, d, a, Word(p,  9), 0xeb86d391u);

    buf[0] += a;
    buf[1] += b;
    buf[2] += c;
    buf[3] += d;
}

void MD5Init(MD5_CTX* ctx) {
    ctx->state[0] = 0x67452301u;
    ctx->state[1] = 0xefcdab89u;
    ctx->state[2] = 0x98badcfeu;
    ctx->state[3] = 0x10325476u;
    ctx->count[0] = 0;
    ctx->count[1] = 0;
    ctx->reverseBytes = 0;
}

namespace {

// The buffer holds a complete block: compress it.
inline void CompressBuffer(MD5_CTX* ctx) {
    if (ctx->reverseBytes) byteReverse(ctx->buffer, 16);
    MD5Transform(ctx->state, reinterpret_cast<const std::uint32_t*>(ctx->buffer));
}

}  // namespace

void MD5Update(MD5_CTX* ctx, const unsigned char* data, std::uint32_t len) {
    // Bit count, 64 bits wide over two words.
    std::uint32_t t = ctx->count[0];
    ctx->count[0] = t + (len << 3);
    if (ctx->count[0] < t) ctx->count[1]++;
    ctx->count[1] += len >> 29;

    t = (t >> 3) & 0x3f;  // bytes already waiting in the buffer
    if (t != 0) {
        const std::uint32_t room = 64 - t;
        if (len < room) {
            std::memcpy(ctx->buffer + t, data, len);
            return;
        }
        std::memcpy(ctx->buffer + t, data, room);
        CompressBuffer(ctx);
        data += room;
        len -= room;
    }

    while (len >= 64) {
        std::memcpy(ctx->buffer, data, 64);
        CompressBuffer(ctx);
        data += 64;
        len -= 64;
    }

    std::memcpy(ctx->buffer, data, len);
}

void MD5Final(unsigned char digest[16], MD5_CTX* ctx) {
    unsigned i = (ctx->count[0] >> 3) & 0x3f;
    ctx->buffer[i++] = 0x80;

    if (i > 56) {
        // No room for the length: pad this block out and start another.
        std::memset(ctx->buffer + i, 0, 64 - i);
        CompressBuffer(ctx);
        std::memset(ctx->buffer, 0, 56);
    } else {
        std::memset(ctx->buffer + i, 0, 56 - i);
    }
    if (ctx->reverseBytes) byteReverse(ctx->buffer, 14);

    std::memcpy(ctx->buffer + 56, &ctx->count[0], 4);
    std::memcpy(ctx->buffer + 60, &ctx->count[1], 4);
    MD5Transform(ctx->state, reinterpret_cast<const std::uint32_t*>(ctx->buffer));
    if (ctx->reverseBytes) byteReverse(reinterpret_cast<unsigned char*>(ctx->state), 4);

    std::memcpy(digest, ctx->state, 16);
    std::memset(ctx, 0, sizeof *ctx);
}
