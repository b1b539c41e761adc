// Bytes as lowercase hex digits, two a byte, first byte first: the form in
// which digests are shown and compared. The one such helper of the tests,
// the benchmarks and the acceptance probe.
#pragma once

#include <string>

// bytes is anything a range-for walks (an array, std::array, std::string);
// String is the string type wanted (std::string, std::wstring).
template <typename String = std::string, typename Bytes>
String Hex(const Bytes& bytes) {
    static const char digits[] = "0123456789abcdef";
    String s;
    for (const unsigned char b : bytes) {
        s += static_cast<typename String::value_type>(digits[b >> 4]);
        s += static_cast<typename String::value_type>(digits[b & 15]);
    }
    return s;
}
