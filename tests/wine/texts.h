// The texts the window tests compare against: the program's own (app/Texts.h),
// byte for byte, and digests worked out beforehand.
#pragma once
#include <windows.h>

#include <string>

#include "app/Texts.h"

namespace harness {

using namespace ::texts;

// One of the program's texts (code page 936 bytes, whatever the system's
// code page) as a window holds it, in UTF-16: what the tests compare the
// window's texts with.
inline std::wstring W(const char* text) {
    const int n = MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 1), L'\0');
    if (n > 0) MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, text, -1, &out[0], n);
    out.resize(out.size() - 1);
    return out;
}

// MD5 of the empty message.
inline constexpr wchar_t kEmptyMd5[] = L"d41d8cd98f00b204e9800998ecf8427e";
// MD5 of 1 GiB of zero bytes (what a sparse file holds), worked out with
// `head -c 1073741824 /dev/zero | md5sum`: the system's provider takes too
// long for gigabytes under Wine.
inline constexpr wchar_t kZeros1GiB[] = L"cd573cfaace07e7949bc0c46028904ff";

}  // namespace harness
