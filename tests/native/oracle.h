// Test helpers: OpenSSL's MD5 as the independent reference, and test data.
#pragma once
#include <openssl/evp.h>

#include <array>
#include <cstdint>
#include <random>
#include <vector>

using Digest = std::array<unsigned char, 16>;

inline Digest OpenSslMd5(const unsigned char* data, std::size_t len) {
    Digest d{};
    unsigned int n = 0;
    EVP_Digest(data, len, d.data(), &n, EVP_md5(), nullptr);
    return d;
}

inline Digest OpenSslMd5(const std::vector<unsigned char>& v) {
    return OpenSslMd5(v.data(), v.size());
}

// Bytes with no short period, the same on every run.
inline std::vector<unsigned char> Pattern(std::size_t len, std::uint32_t seed = 1) {
    std::vector<unsigned char> v(len);
    std::mt19937 rng(seed);
    for (auto& b : v) b = static_cast<unsigned char>(rng() >> 24);
    return v;
}
