// MD5 message digest (RFC 1321): streaming context and block function.
// Portable C++; no allocation and no global state, so independent contexts
// may be used from any number of threads.
#pragma once
#include <cstdint>

struct MD5_CTX {
    std::uint32_t state[4];      // chaining values A, B, C, D
    std::uint32_t count[2];      // message length in bits mod 2^64, count[0] low
    unsigned char buffer[64];    // bytes of the block being filled
    std::int32_t reverseBytes;   // non-zero: block and result words go through byteReverse
};

// Starts a digest. The buffer is left as it is: only the bytes counted in
// count are ever read from it.
void MD5Init(MD5_CTX* ctx);

// Adds len bytes of message. Every complete block is copied into ctx->buffer
// and compressed from there.
void MD5Update(MD5_CTX* ctx, const unsigned char* data, std::uint32_t len);

// Pads the message, stores the 16-byte digest and wipes the whole context.
void MD5Final(unsigned char digest[16], MD5_CTX* ctx);

// Compresses one 64-byte block into buf. The block's words are read in
// native byte order (little-endian on every target we build); in may point
// into a byte buffer, it needs no particular alignment.
void MD5Transform(std::uint32_t buf[4], const std::uint32_t in[16]);

// Rebuilds `longs` 32-bit words in place, each from its 4 bytes taken as
// little-endian. A no-op on little-endian machines.
void byteReverse(unsigned char* buf, unsigned longs);
