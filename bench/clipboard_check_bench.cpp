// How long the window thread spends on the clipboard check: reading the
// clipboard, taking its values and giving every row of a large list its
// verdict (the count after a completed list run), and the same for 50 MB of
// text. Prints the times; not a test.
//
//   clipboard_check_bench.exe [rows]     (default 100000)
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/ClipboardCheck.h"
#include "app/DigestDlg.h"
#include "app/Texts.h"
#include "jobs/JobState.h"
#include "tests/wine/harness_core.h"

using namespace harness;

namespace {

void PutText(const std::wstring& text) {
    while (!OpenClipboard(nullptr)) Sleep(1);
    EmptyClipboard();
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
    memcpy(GlobalLock(block), text.c_str(), bytes);
    GlobalUnlock(block);
    SetClipboardData(CF_UNICODETEXT, block);
    CloseClipboard();
}

std::wstring DigestOf(unsigned i) {
    wchar_t hex[40];
    std::swprintf(hex, 40, L"%08x%08x%08x%08x", i * 2654435761u, i, ~i, i * 40503u);
    return hex;
}

// The run's closing step for a completed list run with the given clipboard
// text put there just before, on the window thread; milliseconds it took.
double TimedClose(const App& app, const std::wstring& text) {
    double ms = 0;
    app.OnUi([&] {
        PutText(text);
        ::SetDlgItemTextW(app.hwnd(), IDC_MD5, AfxText(texts::kListHint));
        const double t0 = NowMs();
        g_clipboardCheck.OnRunClosed(false, true);
        ms = NowMs() - t0;
    });
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
    App app;
    HWND dlg = app.hwnd();
    HWND list = GetDlgItem(dlg, IDC_FILELIST);
    // Rows as a list run leaves them: a path and a digest each.
    app.OnUi([&] {
        app.dlg()->SetCompactMode(0);
        SendMessageW(list, WM_SETREDRAW, FALSE, 0);
        for (int i = 0; i < rows; ++i) {
            wchar_t path[128];
            std::swprintf(path, 128, L"D:\\data\\folder %03d\\file %06d.bin", i / 1000, i);
            LVITEMW item{};
            item.mask = LVIF_TEXT;
            item.iItem = i;
            item.pszText = path;
            SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
            const std::wstring digest = DigestOf(static_cast<unsigned>(i));
            item.iSubItem = 1;
            item.pszText = const_cast<wchar_t*>(digest.c_str());
            SendMessageW(list, LVM_SETITEMTEXTW, i, reinterpret_cast<LPARAM>(&item));
        }
        SendMessageW(list, WM_SETREDRAW, TRUE, 0);
        g_nItems = rows;
    });

    // One line per row, by name; every tenth line with another digest.
    std::wstring lines;
    for (int i = 0; i < rows; ++i) {
        wchar_t name[64];
        std::swprintf(name, 64, L"  file %06d.bin\r\n", i);
        lines += DigestOf(static_cast<unsigned>(i % 10 == 0 ? i + 1 : i)) + name;
    }
    // The parts: the list's texts, the values' parse, the rows' checks.
    {
        CExpectedDigests expected;
        double t0 = NowMs();
        expected.Parse(reinterpret_cast<const char16_t*>(lines.data()), lines.size());
        const double parse = NowMs() - t0;
        std::vector<std::wstring> paths(static_cast<size_t>(rows)), digests(static_cast<size_t>(rows));
        double texts = 0;
        app.OnUi([&] {
            const double t1 = NowMs();
            std::vector<wchar_t> buf(32768);
            for (int i = 0; i < rows; ++i) {
                for (int column : {1, 0}) {
                    LVITEMW item{};
                    item.iSubItem = column;
                    item.pszText = buf.data();
                    item.cchTextMax = static_cast<int>(buf.size());
                    const LRESULT n = SendMessageW(list, LVM_GETITEMTEXTW, i, reinterpret_cast<LPARAM>(&item));
                    (column ? digests : paths)[static_cast<size_t>(i)].assign(buf.data(), static_cast<size_t>(n));
                }
            }
            texts = NowMs() - t1;
        });
        t0 = NowMs();
        int matching = 0;
        for (int i = 0; i < rows; ++i) {
            char digest[33] = {};
            for (int k = 0; k < 32; ++k) digest[k] = static_cast<char>(digests[static_cast<size_t>(i)][static_cast<size_t>(k)]);
            const std::wstring& path = paths[static_cast<size_t>(i)];
            matching += expected.Check(reinterpret_cast<const char16_t*>(path.data()), path.size(), digest, false) ==
                        Verdict::kMatch;
        }
        std::printf("parts: parse %.1f ms, list texts %.1f ms, checks %.1f ms (%d matching)\n", parse, texts,
                    NowMs() - t0, matching);
    }
    for (int round = 0; round < 3; ++round) {
        const double ms = TimedClose(app, lines);
        std::printf("%d lines (%zu characters) against %d rows: %.1f ms; digest box: %s\n", rows, lines.size(), rows,
                    ms, ItemText(dlg, IDC_MD5).c_str());
    }

    // 50 MB of UTF-16 text: no value at all, then md5sum lines naming no row.
    const size_t chars = 25u * 1024 * 1024;
    std::wstring noise(chars, L'\0');
    unsigned x = 12345;
    for (size_t i = 0; i < chars; ++i) {
        x = x * 1103515245u + 12345u;
        noise[i] = static_cast<wchar_t>(1 + (x >> 16) % 0xD7FF);
    }
    std::printf("50 MB of random text: %.1f ms; digest box: %s\n", TimedClose(app, noise), ItemText(dlg, IDC_MD5).c_str());
    std::wstring many;
    many.reserve(chars + 64);
    for (unsigned i = 0; many.size() < chars; ++i) many += DigestOf(i + 7777777u) + L"  elsewhere " + std::to_wstring(i) + L".iso\r\n";
    std::printf("50 MB of lines naming no row: %.1f ms; digest box: %s\n", TimedClose(app, many),
                ItemText(dlg, IDC_MD5).c_str());

    // A small change seen by the window itself (WM_CLIPBOARDUPDATE), from
    // another thread as from another program.
    PutText(L"");
    app.Sync();
    for (int round = 0; round < 3; ++round) {
        const std::wstring line = DigestOf(5) + L"  file 000005.bin";
        const double t0 = NowMs();
        PutText(round % 2 ? L"" : line);
        const char* want = round % 2 ? "" : "1";
        WaitUntil([&] { return (ItemText(dlg, IDC_MD5).find("：一致1个") != std::string::npos) == (*want != 0); }, 5000);
        std::printf("a clipboard change shown after %.1f ms\n", NowMs() - t0);
    }
    PutText(L"");
    return 0;
}
