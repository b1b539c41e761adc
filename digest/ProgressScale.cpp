#include "digest/ProgressScale.h"

ProgressScale ScaleForKiB(std::uint64_t kib) {
    int shift = 0;
    while (kib >= 10000) {
        kib /= 10;
        ++shift;
    }
    return ProgressScale{static_cast<int>(kib), shift};
}

ProgressScale ScaleForBytes(std::uint64_t bytes) {
    return ScaleForKiB(bytes / 1024);
}

int ScaledPosition(std::uint64_t chunks, int shift) {
    for (int i = 0; i < shift; ++i) chunks /= 10;
    return chunks > 0x7fffffffu ? 0x7fffffff : static_cast<int>(chunks);
}
