// The clipboard check against a large list: how long after another program's
// copy the window shows the count of matching and differing rows (or takes
// it away again), and how long the window took at most meanwhile to answer a
// message; the same for 50 MB of text; and the parts of the work measured
// one by one. Prints the times; not a test.
//
//   clipboard_check_bench.exe [rows]     (default 100000)
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <functional>
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

void PutText(const std::wstring& text) { PutClipboardText(text); }

std::wstring DigestOf(unsigned i) {
    wchar_t hex[40];
    std::swprintf(hex, 40, L"%08x%08x%08x%08x", i * 2654435761u, i, ~i, i * 40503u);
    return hex;
}

// Another program puts text on the clipboard; how long until the digest box
// shows what want() looks for, and the longest the window took meanwhile to
// answer a message (it must keep answering).
void Measure(const App& app, const char* what, const std::wstring& text, const std::function<bool(const std::string&)>& want) {
    PutText(text);
    const double t0 = NowMs();
    double longest = 0;
    std::string shown;
    do {
        const double before = NowMs();
        app.OnUi([] {});
        longest = std::max(longest, NowMs() - before);
        shown = harness::Narrow(harness::ItemTextW(app.hwnd(), IDC_MD5));
    } while (!want(shown) && NowMs() - t0 < 20000);
    std::printf("%s: shown after %.1f ms (%s), the window answered within %.1f ms\n", what, NowMs() - t0,
                want(shown) ? "as expected" : "NOT SHOWN", longest);
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
    // A completed list run with nothing on the clipboard, then the changes.
    PutText(L"");
    app.OnUi([&] {
        ::SetDlgItemTextW(dlg, IDC_MD5, AfxText(texts::kListHint));
        g_clipboardCheck.OnRunClosed(false, true);
    });
    char counted[64];
    std::snprintf(counted, sizeof counted, "：一致%d个，不一致%d个", rows - (rows + 9) / 10, (rows + 9) / 10);
    const auto summary = [&](const std::string& box) { return box.find(counted) != std::string::npos; };
    const auto hint = [](const std::string& box) { return box == texts::kListHint; };
    std::printf("%d rows; %d lines are %zu characters\n", rows, rows, lines.size());
    for (int round = 0; round < 3; ++round) {
        Measure(app, "the lines", lines, summary);
        Measure(app, "no value", L"", hint);
    }

    // 50 MB of UTF-16 text: no value at all, then md5sum lines naming no row.
    const size_t chars = 25u * 1024 * 1024;
    std::wstring noise(chars, L'\0');
    unsigned x = 12345;
    for (size_t i = 0; i < chars; ++i) {
        x = x * 1103515245u + 12345u;
        noise[i] = static_cast<wchar_t>(1 + (x >> 16) % 0xD7FF);
    }
    std::wstring many;
    many.reserve(chars + 64);
    for (unsigned i = 0; many.size() < chars; ++i) many += DigestOf(i + 7777777u) + L"  elsewhere " + std::to_wstring(i) + L".iso\r\n";
    Measure(app, "the lines", lines, summary);
    Measure(app, "50 MB of random text", noise, hint);
    Measure(app, "the lines", lines, summary);
    Measure(app, "50 MB of lines naming no row", many, hint);

    // One line naming one row, and none, three times.
    const std::wstring one = DigestOf(5) + L"  file 000005.bin";
    for (int round = 0; round < 3; ++round) {
        Measure(app, "one line", one, [](const std::string& box) { return box.find("：一致1个，不一致0个") != std::string::npos; });
        Measure(app, "no value", L"", hint);
    }
    PutText(L"");
    return 0;
}
