// Digest of one whole file, read in 1024-byte chunks, with progress reports.
#pragma once
#include <cstdint>

// A path as the file system takes it: UTF-16 on Windows (in the form the
// file is opened in, see jobs/FilePath.h), bytes elsewhere.
#ifdef _WIN32
using PathChar = wchar_t;
#else
using PathChar = char;
#endif

// Computes the MD5 digest of the file at path.
// raw == 0: out receives 32 lowercase hex digits and a terminating zero
// (33 bytes); raw != 0: out receives the 16 digest bytes.
// Returns 0 when out was written, 1 when the file did not open or a read
// failed (out untouched). A stop (g_bWorking no longer 1) returns 0 with the
// digest of the chunks digested so far; the caller tells a stop by the flag.
int DigestFile(const PathChar* path, unsigned char* out, int raw);

// Progress of the file being digested: mode 0 once after the file opened
// (value: its size in KiB, rounded down, taken from the open file; 0 when
// the size cannot be read), mode 1 after each chunk with the number of chunks digested so
// far (1 when none was). Defined by the program (it drives the window) and
// by tests (they record the calls).
void ReportProgress(int mode, std::uint64_t value);
