// libFuzzer target: the digest of the input fed in pieces must equal the
// digest of it fed in one call, and OpenSSL's when that is linked in.
// The cut points come from the input itself, so the fuzzer steers them too.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "digest/Md5.h"

#ifdef QUELLIN_FUZZ_OPENSSL
#include <openssl/evp.h>
#endif

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

void OneCall(const std::uint8_t* data, std::size_t size, unsigned char out[16]) {
    MD5_CTX ctx;
    MD5Init(&ctx);
    MD5Update(&ctx, data, static_cast<std::uint32_t>(size));
    MD5Final(out, &ctx);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    unsigned char whole[16];
    OneCall(data, size, whole);

    // Seed a small generator from the whole input (FNV-1a), then cut pieces
    // of 0..3 bytes, around one block, or up to a few blocks.
    std::uint64_t x = 14695981039346656037ull;
    for (std::size_t i = 0; i < size; ++i) x = (x ^ data[i]) * 1099511628211ull;
    x |= 1;

    MD5_CTX ctx;
    std::memset(&ctx, 0x5a, sizeof ctx);  // Init must not depend on old contents
    MD5Init(&ctx);
    for (std::size_t off = 0; off < size;) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        std::size_t n;
        switch (x & 3) {
            case 0: n = (x >> 8) & 3; break;
            case 1: n = 62 + ((x >> 8) & 3); break;
            default: n = (x >> 8) % 300; break;
        }
        if (n > size - off) n = size - off;
        MD5Update(&ctx, data + off, static_cast<std::uint32_t>(n));
        off += n;
    }
    unsigned char pieces[16];
    MD5Final(pieces, &ctx);
    Check(std::memcmp(whole, pieces, 16) == 0);

    const auto* bytes = reinterpret_cast<const unsigned char*>(&ctx);
    for (std::size_t i = 0; i < sizeof ctx; ++i) Check(bytes[i] == 0);

#ifdef QUELLIN_FUZZ_OPENSSL
    unsigned char ref[16];
    unsigned int len = 0;
    Check(EVP_Digest(data, size, ref, &len, EVP_md5(), nullptr) == 1);
    Check(std::memcmp(whole, ref, 16) == 0);
#endif
    return 0;
}
