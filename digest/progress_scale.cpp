#include "digest/progress_scale.h"

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

void ProgressThrottle::Start(int rangeMax) {
    rangeMax_ = rangeMax;
    lastPos_ = -1;
    lastMs_ = 0;
}

bool ProgressThrottle::ShouldSend(int pos, std::uint64_t nowMs) {
    if (pos == lastPos_) return false;
    const bool due = lastPos_ < 0 || pos >= rangeMax_ || nowMs - lastMs_ >= kMinIntervalMs;
    if (!due) return false;
    lastPos_ = pos;
    lastMs_ = nowMs;
    return true;
}
