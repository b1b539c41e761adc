// Scaling of the per-file progress bar. Pure functions with no Windows
// header, so the native tests exercise exactly what the program runs.
#pragma once
#include <cstdint>

// A progress bar range holds an int and the common control draws a few
// hundred pixels, so the range is kept below 10000: the file size in KiB,
// divided by 10 (integer division) until it is below 10000. shift counts
// the divisions; the chunk counter is divided by 10 the same number of times.
struct ProgressScale {
    int range;  // bar maximum, 0..9999
    int shift;  // powers of ten taken off the KiB count and the chunk count
};

// Scale for a file of kib KiB (size in bytes / 1024, rounded down).
ProgressScale ScaleForKiB(std::uint64_t kib);

// Same, straight from a size in bytes (files may be 4 GiB or larger).
ProgressScale ScaleForBytes(std::uint64_t bytes);

// Bar position after `chunks` 1024-byte chunks: chunks divided by 10,
// shift times. A file read to its end always reaches at least the range
// (its chunk count is its KiB count rounded up).
int ScaledPosition(std::uint64_t chunks, int shift);
