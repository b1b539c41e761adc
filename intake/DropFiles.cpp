#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <vector>

#include "app/DigestDlg.h"
#include "jobs/CheckJob.h"
#include "jobs/JobState.h"
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

    // Busy: a run is active, or the thread of a stopped run is still ending.
    if (IsCheckBusy()) {
        AfxMessageBox("程序正在工作，现在拖拽文件无效！", MB_OK);
        return;
    }

    GetDlgItem(IDC_COPY).EnableWindow(FALSE);
    ResetBar(m_progress);
    SetDlgItemText(IDC_STAGE, "0/3");
    SetDlgItemText(IDC_MD5, "");
    SetDlgItemText(IDC_STATUS, "准备就绪,请点击开始校验.");
    SetDlgItemText(IDC_LISTSTATUS, "正在获取文件及文件夹路径……");
    ResetBar(*g_pTotalProgress);
    SetDlgItemText(IDC_COPY, "复制");

    std::vector<char> buffer;
    int n = static_cast<int>(::DragQueryFileA(drop.get(), 0xFFFFFFFF, nullptr, 0));
    // A drop whose only item has no path carries nothing.
    if (n == 1 && ::DragQueryFileA(drop.get(), 0, nullptr, 0) == 0) n = 0;
    g_nItems = n;

    CString text;
    text.Format("0/%d", n);
    SetDlgItemText(IDC_LISTCOUNT, text);
    g_pFileList->SendMessage(LVM_DELETEALLITEMS);

    int passes = 0;
    for (int i = 0; i < g_nItems; ++i, passes = i) {
        // Each path is read whole, however long: a path cut short could name
        // another file or folder.
        const UINT need = ::DragQueryFileA(drop.get(), static_cast<UINT>(i), nullptr, 0);
        buffer.assign(need + 1, '\0');
        const UINT len = ::DragQueryFileA(drop.get(), static_cast<UINT>(i), buffer.data(), need + 1);
        const CString path(buffer.data(), static_cast<int>(len <= need ? len : need));
        const bool folder = IsFolderPath(path);
        if (n == 1 && !folder) {
            if (g_bCompact == 0) SetCompactMode(1);
            SetDlgItemText(IDC_PATH, path);
            OnOK();
            continue;
        }
        if (n == 1) {
            if (g_bCompact == 1) SetCompactMode(0);
            SetDlgItemText(IDC_PATH, "一个文件夹");
        } else {
            if (g_bCompact == 1) SetCompactMode(0);
            SetDlgItemText(IDC_PATH, "多个文件夹及文件");
        }
        g_pFileList->InsertItem(LVIF_TEXT, i, path, 0, 0, 0, 0);
        g_pFileList->SetItemText(i, 1, folder ? "文件夹" : "文件");
        text.Format("%d/%d", i, g_nItems);
        SetDlgItemText(IDC_LISTCOUNT, text);
    }

    text.Format("%d/%d", passes, g_nItems);
    SetDlgItemText(IDC_LISTCOUNT, text);
    drop.Release();
    SetDlgItemText(IDC_LISTSTATUS, "获取文件及文件夹路径完毕.");
}
