// The window side of a file digest's progress: the per-file bar, the status
// text and the stage label of the main window.
#include <windows.h>

#include <commctrl.h>

#include "app/DigestDlg.h"
#include "digest/file_digest.h"
#include "digest/progress_scale.h"
#include "jobs/JobState.h"

// Powers of ten taken off the progress values of the file being digested.
int g_nScaleShift = 0;

namespace {
// Which positions are worth a message to the window (checking thread only).
ProgressThrottle s_throttle;
// The bar's maximum for the file being digested. The control holds its
// position within the range, so a count past the end (the last partial KiB)
// moves nothing and is not sent: every message costs both threads a
// cross-thread round trip.
int s_rangeMax = 0;

// The file's full size in KiB, or fallback when it cannot be read.
std::uint64_t FileSizeKiB(const char* path, std::uint64_t fallback) {
    // Others may have the file open for writing (a growing log, say): share
    // everything, we only ask for the size.
    const HANDLE h = ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return fallback;
    LARGE_INTEGER size;
    const bool ok = ::GetFileSizeEx(h, &size) != FALSE;
    ::CloseHandle(h);
    return ok ? static_cast<std::uint64_t>(size.QuadPart) / 1024 : fallback;
}
}  // namespace

void ReportProgress(int mode, std::uint64_t value) {
    CDigestDlg* dlg = static_cast<CDigestDlg*>(AfxGetMainWnd());
    const CWnd& bar = dlg->m_progress;
    if (mode == 0) {
        dlg->SetDlgItemText(IDC_STATUS, "正在初始化校验进度……");
        dlg->SetDlgItemText(IDC_STAGE, "1/3");
        const ProgressScale scale = ScaleForKiB(FileSizeKiB(g_strCurrentFile, value));
        g_nScaleShift = scale.shift;
        bar.SendMessage(PBM_SETRANGE, 0, MAKELPARAM(0, scale.range));
        bar.SendMessage(PBM_SETPOS, 0);
        s_rangeMax = scale.range;
        s_throttle.Start(scale.range);
        s_throttle.ShouldSend(0, ::GetTickCount());  // position 0 has just been sent
        dlg->SetDlgItemText(IDC_STATUS, "正在进行全文MD5校验……");
        dlg->SetDlgItemText(IDC_STAGE, "2/3");
        return;
    }
    int pos = ScaledPosition(value, g_nScaleShift);
    if (pos > s_rangeMax) pos = s_rangeMax;
    if (s_throttle.ShouldSend(pos, ::GetTickCount())) bar.SendMessage(PBM_SETPOS, pos);
}
