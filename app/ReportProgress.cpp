// The window side of a file digest's progress: the per-file bar, the status
// text and the stage label of the main window. Called on the checking thread
// for every 1024-byte chunk, so it only records the state in the run display
// (which the window shows a few dozen times a second) and never waits.
#include <windows.h>

#include "app/RunDisplay.h"
#include "digest/FileDigest.h"
#include "digest/ProgressScale.h"
#include "jobs/FilePath.h"
#include "jobs/JobState.h"
#include "res/resource.h"

// Powers of ten taken off the progress values of the file being digested.
int g_nScaleShift = 0;

namespace {
// The bar's maximum for the file being digested. The control holds its
// position within the range, so a count past the end (the last partial KiB)
// is shown as the end.
int s_rangeMax = 0;

// The file's full size in KiB, or fallback when it cannot be read.
std::uint64_t FileSizeKiB(const char* path, std::uint64_t fallback) {
    // Others may have the file open for writing (a growing log, say): share
    // everything, we only ask for the size.
    const HANDLE h = ::CreateFileW(ExtendedPathW(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return fallback;
    LARGE_INTEGER size;
    const bool ok = ::GetFileSizeEx(h, &size) != FALSE;
    ::CloseHandle(h);
    return ok ? static_cast<std::uint64_t>(size.QuadPart) / 1024 : fallback;
}
}  // namespace

void ReportProgress(int mode, std::uint64_t value) {
    if (mode == 0) {
        g_display.SetText(IDC_STATUS, "正在初始化校验进度……");
        g_display.SetText(IDC_STAGE, "1/3");
        // The size query opens the file again, which can block as long as
        // the digest's own open; a run given up meanwhile is left alone.
        const CString path = g_strCurrentFile;
        BeginBlockingCall();
        const std::uint64_t kib = FileSizeKiB(path, value);
        if (!EndBlockingCall()) return;
        const ProgressScale scale = ScaleForKiB(kib);
        g_nScaleShift = scale.shift;
        s_rangeMax = scale.range;
        g_display.SetBarRange(IDC_PROGRESS, scale.range);
        g_display.SetBarPos(IDC_PROGRESS, 0);
        g_display.SetText(IDC_STATUS, "正在进行全文MD5校验……");
        g_display.SetText(IDC_STAGE, "2/3");
        return;
    }
    const int pos = ScaledPosition(value, g_nScaleShift);
    g_display.SetBarPos(IDC_PROGRESS, pos > s_rangeMax ? s_rangeMax : pos);
}
