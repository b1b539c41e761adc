// The window side of a file digest's progress: the per-file bar, the status
// text and the stage label of the main window. Called on the checking thread
// for every 1024-byte chunk, so it only records the state in the run display
// (which the window shows a few dozen times a second) and never waits.
#include <windows.h>

#include "app/RunDisplay.h"
#include "app/Texts.h"
#include "digest/FileDigest.h"
#include "digest/ProgressScale.h"
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
std::uint64_t FileSizeKiB(const wchar_t* path, std::uint64_t fallback) {
    // Others may have the file open for writing (a growing log, say): share
    // everything, we only ask for the size.
    const HANDLE h = ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return fallback;
    LARGE_INTEGER size;
    const bool ok = ::GetFileSizeEx(h, &size) != FALSE;
    ::CloseHandle(h);
    return ok ? static_cast<std::uint64_t>(size.QuadPart) / 1024 : fallback;
}
}  // namespace

void ReportProgress(int mode, std::uint64_t value) {
    CRunEvents* const events = ThreadRunEvents();
    if (!events) return;
    if (mode == 0) {
        events->SetText(IDC_STATUS, texts::kInit);
        events->SetText(IDC_STAGE, texts::kStage1);
        // The size query opens the file again, which can block as long as
        // the digest's own open; a run given up meanwhile is left alone.
        const CStringW path = g_strCurrentFile;
        BeginBlockingCall();
        const std::uint64_t kib = FileSizeKiB(path, value);
        if (!EndBlockingCall()) return;
        const ProgressScale scale = ScaleForKiB(kib);
        g_nScaleShift = scale.shift;
        s_rangeMax = scale.range;
        events->SetBarRange(IDC_PROGRESS, scale.range);
        events->SetBarPos(IDC_PROGRESS, 0);
        events->SetText(IDC_STATUS, texts::kReading);
        events->SetText(IDC_STAGE, texts::kStage2);
        return;
    }
    const int pos = ScaledPosition(value, g_nScaleShift);
    events->SetBarPos(IDC_PROGRESS, pos > s_rangeMax ? s_rangeMax : pos);
}
