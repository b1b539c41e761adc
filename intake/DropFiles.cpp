#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <vector>

#include "app/DigestDlg.h"
#include "app/Texts.h"
#include "jobs/FilePath.h"
#include "jobs/JobState.h"
#include "jobs/RunController.h"
#include "jobs/TargetList.h"

namespace {

// Releases the shell's drop exactly once, on every way out of the handler.
class DropHandle {
public:
    explicit DropHandle(HDROP drop) : m_drop(drop) {}
    DropHandle(const DropHandle&) = delete;
    DropHandle& operator=(const DropHandle&) = delete;
    ~DropHandle() { Release(); }
    void Release() {
        if (m_drop) ::DragFinish(m_drop);
        m_drop = nullptr;
    }
    HDROP get() const { return m_drop; }

private:
    HDROP m_drop;
};

void ResetBar(const CWnd& bar) {
    bar.SendMessage(PBM_SETRANGE, 0, MAKELPARAM(0, 1));
    bar.SendMessage(PBM_SETPOS, 0);
}

}  // namespace

void CDigestDlg::OnDropFiles(HDROP hDropInfo) {
    DropHandle drop(hDropInfo);

    // Busy: a run is in progress, stopped or not.
    if (RunInProgress()) {
        AfxMessageBox(texts::kBusyDrop, MB_OK);
        return;
    }

    GetDlgItem(IDC_COPY).EnableWindow(FALSE);
    ResetBar(m_progress);
    SetDlgItemText(IDC_STAGE, texts::kStage0);
    SetDlgItemText(IDC_MD5, "");
    SetDlgItemText(IDC_STATUS, texts::kReady);
    SetDlgItemText(IDC_LISTSTATUS, texts::kDropTaking);
    ResetBar(*g_pTotalProgress);
    SetDlgItemText(IDC_COPY, texts::kCopy);

    std::vector<wchar_t> buffer;
    int n = static_cast<int>(::DragQueryFileW(drop.get(), 0xFFFFFFFF, nullptr, 0));
    // A drop whose only item has no path carries nothing.
    if (n == 1 && ::DragQueryFileW(drop.get(), 0, nullptr, 0) == 0) n = 0;
    g_nItems = n;

    CString text;
    text.Format("0/%d", n);
    SetDlgItemText(IDC_LISTCOUNT, text);
    g_pFileList->SendMessage(LVM_DELETEALLITEMS);

    int passes = 0;
    for (int i = 0; i < g_nItems; ++i, passes = i) {
        // Each path is read whole, however long, exactly as the shell gives
        // it: a path cut short or changed could name another file or folder.
        const UINT need = ::DragQueryFileW(drop.get(), static_cast<UINT>(i), nullptr, 0);
        buffer.assign(need + 1, L'\0');
        const UINT len = ::DragQueryFileW(drop.get(), static_cast<UINT>(i), buffer.data(), need + 1);
        const CStringW path(buffer.data(), static_cast<int>(len <= need ? len : need));
        const bool folder = IsFolderPath(ExtendedPath(path));
        if (n == 1 && !folder) {
            if (g_bCompact == 0) SetCompactMode(1);
            SetDlgItemText(IDC_PATH, path);
            OnOK();
            continue;
        }
        if (n == 1) {
            if (g_bCompact == 1) SetCompactMode(0);
            SetDlgItemText(IDC_PATH, texts::kOneFolder);
        } else {
            if (g_bCompact == 1) SetCompactMode(0);
            SetDlgItemText(IDC_PATH, texts::kSeveral);
        }
        g_pFileList->InsertItem(LVIF_TEXT, i, path, 0, 0, 0, 0);
        g_pFileList->SetItemText(i, 1, folder ? texts::kKindFolder : texts::kKindFile);
        text.Format("%d/%d", i, g_nItems);
        SetDlgItemText(IDC_LISTCOUNT, text);
    }

    text.Format("%d/%d", passes, g_nItems);
    SetDlgItemText(IDC_LISTCOUNT, text);
    drop.Release();
    SetDlgItemText(IDC_LISTSTATUS, texts::kDropTaken);
}
