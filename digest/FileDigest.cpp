#include "digest/FileDigest.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "digest/Md5.h"
#include "jobs/RunFlag.h"

namespace {

// The file is read in 1024-byte chunks (one progress step each); a larger
// buffer behind them keeps the number of read system calls low. 64 KiB
// measured as fast as 1 MiB on a cached file, at a sixteenth of the memory.
// The benchmark builds other sizes (0: the system's default buffering).
#ifndef QUELLIN_STREAM_BUFFER_KIB
#define QUELLIN_STREAM_BUFFER_KIB 64
#endif
constexpr std::size_t kStreamBufferSize = std::size_t{QUELLIN_STREAM_BUFFER_KIB} * 1024;
constexpr std::size_t kChunkSize = 1024;

const char kHexDigits[] = "0123456789abcdef";

// Reads a file front to back through a buffer, like fread on a stream.
// On Windows it reads the file's handle itself: a C runtime stream would
// share the runtime's locks with every other stream of the program, and a
// read that never returns (a hung share) would then hold up the opening of
// any other file, also by a later run.
class ChunkReader {
public:
    ChunkReader() = default;
    ChunkReader(const ChunkReader&) = delete;
    ChunkReader& operator=(const ChunkReader&) = delete;
    ~ChunkReader() { Close(); }

    bool Open(const PathChar* path) {
#ifdef _WIN32
        // A "\\?\" path of any length; shared as fopen shares a file:
        // others may read and write meanwhile.
        m_file = ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (m_file == INVALID_HANDLE_VALUE) return false;
        m_buffer.resize(kStreamBufferSize != 0 ? kStreamBufferSize : 4096);
        return true;
#else
        m_file = std::fopen(path, "rb");
        if (m_file == nullptr) return false;
        // Without the bigger buffer the C library's default one is used:
        // slower, still correct.
        if (kStreamBufferSize != 0) {
            m_buffer.resize(kStreamBufferSize);
            if (std::setvbuf(m_file, m_buffer.data(), _IOFBF, kStreamBufferSize) != 0) m_buffer.clear();
        }
        return true;
#endif
    }

    // Up to size bytes into out; fewer only at the end of the file or on a
    // read error (Failed() tells which).
    std::size_t Read(unsigned char* out, std::size_t size) {
#ifdef _WIN32
        std::size_t done = 0;
        while (done < size && !m_failed) {
            if (m_at == m_filled) {
                DWORD got = 0;
                if (!::ReadFile(m_file, m_buffer.data(), static_cast<DWORD>(m_buffer.size()), &got, nullptr)) {
                    m_failed = true;
                    break;
                }
                if (got == 0) break;
                m_at = 0;
                m_filled = got;
            }
            const std::size_t n = std::min(size - done, m_filled - m_at);
            std::memcpy(out + done, m_buffer.data() + m_at, n);
            m_at += n;
            done += n;
        }
        return done;
#else
        const std::size_t n = std::fread(out, 1, size, m_file);
        if (std::ferror(m_file)) m_failed = true;
        return n;
#endif
    }

    bool Failed() const { return m_failed; }

    // The open file's size in bytes, asked of the handle the digest reads
    // (the file is not opened a second time); false when the system cannot
    // tell.
    bool Size(std::uint64_t* size) const {
#ifdef _WIN32
        LARGE_INTEGER bytes;
        if (!::GetFileSizeEx(m_file, &bytes) || bytes.QuadPart < 0) return false;
        *size = static_cast<std::uint64_t>(bytes.QuadPart);
        return true;
#else
        struct stat st;
        if (::fstat(::fileno(m_file), &st) != 0 || !S_ISREG(st.st_mode)) return false;
        *size = static_cast<std::uint64_t>(st.st_size);
        return true;
#endif
    }

    void Close() {
#ifdef _WIN32
        if (m_file != INVALID_HANDLE_VALUE) ::CloseHandle(m_file);
        m_file = INVALID_HANDLE_VALUE;
#else
        // The stream first, then the buffer it was using.
        if (m_file != nullptr) std::fclose(m_file);
        m_file = nullptr;
#endif
        m_buffer.clear();
    }

private:
#ifdef _WIN32
    HANDLE m_file = INVALID_HANDLE_VALUE;
    std::vector<unsigned char> m_buffer;
    std::size_t m_at = 0, m_filled = 0;
#else
    std::FILE* m_file = nullptr;
    std::vector<char> m_buffer;
#endif
    bool m_failed = false;
};

}  // namespace

int DigestFile(const PathChar* path, unsigned char* out, int raw) {
    // Opening and reading can block for long (a hung share); a run given up
    // meanwhile gets nothing from this file, not even a progress report.
    ChunkReader file;
    BeginBlockingCall();
    const bool opened = file.Open(path);
    if (!EndBlockingCall() || !opened) return 1;

    // The size sets the progress bar's range; a size query that can block
    // (a hung share) is a blocking call like the read.
    std::uint64_t size = 0;
    BeginBlockingCall();
    const bool sized = file.Size(&size);
    if (!EndBlockingCall()) return 1;

    MD5_CTX ctx;
    MD5Init(&ctx);
    ReportProgress(0, sized ? size / 1024 : 0);

    unsigned char chunk[kChunkSize];
    BeginBlockingCall();
    std::size_t n = file.Read(chunk, kChunkSize);
    if (!EndBlockingCall()) return 1;
    if (n == 0) {
        ReportProgress(1, 1);
    } else {
        std::uint64_t chunks = 0;
        do {
            if (g_bWorking.load() != 1) break;  // stopped: this chunk is not digested
            MD5Update(&ctx, chunk, static_cast<std::uint32_t>(n));
            ++chunks;
            ReportProgress(1, chunks);
            BeginBlockingCall();
            n = file.Read(chunk, kChunkSize);
            if (!EndBlockingCall()) return 1;
        } while (n != 0);
        if (chunks == 0) ReportProgress(1, 1);
    }

    unsigned char digest[16];
    MD5Final(digest, &ctx);

    if (file.Failed()) return 1;

    if (raw != 0) {
        std::memcpy(out, digest, 16);
    } else {
        for (int i = 0; i < 16; ++i) {
            out[2 * i] = static_cast<unsigned char>(kHexDigits[digest[i] >> 4]);
            out[2 * i + 1] = static_cast<unsigned char>(kHexDigits[digest[i] & 0x0f]);
        }
        out[32] = 0;
    }
    return 0;
}
