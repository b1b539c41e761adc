// The texts the window tests compare against: the program's own (app/Texts.h),
// byte for byte, and digests worked out beforehand.
#pragma once

#include "app/Texts.h"

namespace harness {

using namespace ::texts;

// MD5 of the empty message.
inline constexpr char kEmptyMd5[] = "d41d8cd98f00b204e9800998ecf8427e";
// MD5 of 1 GiB of zero bytes (what a sparse file holds), worked out with
// `head -c 1073741824 /dev/zero | md5sum`: the system's provider takes too
// long for gigabytes under Wine.
inline constexpr char kZeros1GiB[] = "cd573cfaace07e7949bc0c46028904ff";

}  // namespace harness
