// Drives the program's real main dialog from another thread, with no test
// framework: the window tests (through harness.h) and the window benchmark
// use it.
//
// The dialog runs on its own UI thread, exactly as on the program's main
// thread (theApp.InitInstance and its modal loop); the driving thread reads
// and changes it through window messages, as another program or the user
// would.
#pragma once
#include <windows.h>

#include <shellapi.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "texts.h"

class CDigestDlg;

namespace harness {

class App {
public:
    App();   // starts the UI thread and waits for the main dialog
    ~App();  // closes the dialog (answering an exit question with Yes) and joins the thread
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    HWND hwnd() const { return m_dlg; }
    CDigestDlg* dlg() const;
    DWORD uiThreadId() const { return m_threadId; }
    // Runs fn on the UI thread and waits for it, as a handler would run.
    void OnUi(const std::function<void()>& fn) const;
    // Queues fn to run on the UI thread and returns at once (for handlers
    // that open a modal box).
    void PostUi(std::function<void()> fn) const;
    // Returns once the UI thread has handled every message posted to it
    // before this call (a modal box it shows meanwhile does not block this).
    void Sync() const;
    // True when the UI thread has ended (the dialog closed).
    bool Ended(DWORD waitMs = 0) const;

private:
    static DWORD WINAPI UiThread(LPVOID self);
    HANDLE m_thread = nullptr;
    DWORD m_threadId = 0;
    HWND m_helper = nullptr;
    HWND m_dlg = nullptr;
    HANDLE m_ready = nullptr;
};

// What the system's ANSI code page (936 in the test setup) makes of UTF-16
// text: the plain text another program gets from the clipboard.
std::string Narrow(const std::wstring& text);

// Window texts and states, read across threads, exactly, in UTF-16.
std::wstring TextW(HWND wnd);
std::wstring ItemTextW(HWND dlg, int id);
bool Enabled(HWND dlg, int id);
// Clicks a button and waits for its handler (send) or not (post: for
// handlers that open a modal box). Only what a person could press: a hidden
// or disabled control is not clicked, and the test fails saying which.
void Click(HWND dlg, int id);
void PostClick(HWND dlg, int id);
// WM_COMMAND for a button, sent to the dialog whatever the button's state: a
// message no person can send, for tests that show the handler's own guard.
void SendCommand(HWND dlg, int id);
// Clicks the button if a person could press it at this moment, deciding on
// the window's own thread (so a run cannot end between look and click);
// false, and no failure, when it could not be pressed.
bool TryClick(const App& app, int id);

// Waits until pred() is true, up to timeoutMs; returns the last result.
bool WaitUntil(const std::function<bool()>& pred, DWORD timeoutMs = 5000);
// The visible top-level windows of class cls (of any process) for which
// more(window) holds, if given; the first of them, or null.
std::vector<HWND> TopLevels(const char* cls, const std::function<bool(HWND)>& more = nullptr);
HWND FindTopLevel(const char* cls, const std::function<bool(HWND)>& more = nullptr);
// A top-level dialog (class "#32770") owned by owner, or null after timeoutMs.
HWND WaitForOwnedDialog(HWND owner, DWORD timeoutMs = 5000);
// The message text of a message box.
std::wstring MessageBoxText(HWND box);

// Replaces one of the program's function pointers (g_pfnOpenClipboard and
// the like) or flags for the lifetime of this object: the destructor puts
// the old value back, also when a failed assertion leaves the test early.
template <typename T, typename Value = T>
class Fake {
public:
    Fake(T& slot, Value fake) : m_slot(slot), m_old(slot) { slot = fake; }
    ~Fake() { m_slot = m_old; }
    Fake(const Fake&) = delete;
    Fake& operator=(const Fake&) = delete;

private:
    T& m_slot;
    const Value m_old;
};
// Fake f(g_pfnX, nullptr) is a Fake of g_pfnX's type; one of an atomic flag
// keeps its old value as a plain one.
template <typename T, typename U>
Fake(T&, U) -> Fake<T>;
template <typename T, typename U>
Fake(std::atomic<T>&, U) -> Fake<std::atomic<T>, T>;

// Replaces a window's procedure (on the window's own thread); returns the
// one it had, to call on and to put back.
WNDPROC Subclass(HWND wnd, WNDPROC proc);

// Client-area rectangle of a child control, in the dialog's client coordinates.
RECT ChildRect(HWND dlg, int id);

// Pixels of a window's client area as the screen shows it (0x00RRGGBB).
struct Image {
    int width = 0, height = 0;
    std::vector<uint32_t> px;
    uint32_t at(int x, int y) const { return px[static_cast<size_t>(y) * width + x]; }
};
Image CaptureClient(HWND wnd);
Image CaptureWindow(HWND wnd);
Image CaptureScreen(const RECT& screenRect);
// Writes a 24-bit BMP into the screenshot folder (QUELLIN_SHOTS_DIR, or the
// current folder); returns the path.
std::string SaveBmp(const Image& img, const std::string& name);
// Repaints the window and lets the X server catch up before a capture.
void Settle(const App& app);

// A fresh folder under the temporary folder, removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& path() const { return m_path; }
    // path() + L"\\" + rel; creates the folders on the way.
    std::wstring Sub(const std::wstring& rel) const;
    // Sub(rel), written with bytes; returns the path.
    std::wstring File(const std::wstring& rel, const std::string& bytes) const;

private:
    std::wstring m_path;
};

// Where a setup step that failed (a file that could not be written) is
// reported; by default a line on stderr. The window tests make it a test
// failure.
void SetFailureReporter(void (*report)(const char* file, int line, const std::string& what));

// The file functions below take full paths, as the tests make them (below
// a TempDir, or a host folder through WinPath), and reach them in their
// "\\?\" form: a name may end in a dot or a blank, and a path may be long.
void RemoveTree(const std::wstring& path);
// Writes bytes (a made-up pattern of size bytes, seeded) to path.
void WriteFile(const std::wstring& path, size_t size, unsigned seed = 1);
void WriteText(const std::wstring& path, const std::string& bytes);
// Creates path as a sparse file of the given size.
void WriteSparse(const std::wstring& path, unsigned long long size);
// The file's MD5 as 32 lowercase hex digits, from the system's own crypto
// provider: an implementation independent of the program's.
std::wstring OracleMd5(const std::wstring& path);

// An HDROP made as the shell makes one (UTF-16 paths).
HDROP MakeDrop(const std::vector<std::wstring>& paths);
// Posts WM_DROPFILES with such an HDROP to the main dialog and waits until
// the dialog has handled it.
void Drop(const App& app, const std::vector<std::wstring>& paths);
// The same drop for a window of another process, which gets its HDROP in
// its own memory, as from the shell; returns at once.
bool PostDrop(HWND wnd, const std::vector<std::wstring>& paths);
// Rows of the file list, columns 0 and 1; one cell of it; how many rows it
// has. Read exactly, in UTF-16.
std::vector<std::pair<std::wstring, std::wstring>> ListRowsW(HWND dlg);
std::wstring CellTextW(HWND dlg, int row, int col);
int RowCount(HWND dlg);
// Waits until no run is active and Start is enabled again.
bool WaitIdle(HWND dlg, DWORD timeoutMs = 30000);
// Checks one file as a person does: chosen with Open, Start, and WaitIdle.
bool RunFile(const App& app, const std::wstring& path, DWORD timeoutMs = 30000);
// Answers the exit question that leaving the main dialog dlg (of this or
// another process) during a run asks, with Yes. Returns the moment Yes was
// posted (NowMs); -1, reported, when no exit question came within 5 s. With
// ended given, leaving may also end the dialog without a question: then 0.
double AnswerExitQuestion(HWND dlg, const std::function<bool()>& ended = nullptr);
// Presses Close (posted: the question is a modal box) and answers as above.
double ExitAnsweringYes(HWND dlg, const std::function<bool()>& ended = nullptr);
// Closes a message box (or dialog) with the given button and waits until it has gone.
void Answer(HWND box, int id);
// PBM_GETRANGE upper bound and PBM_GETPOS of a progress bar.
int BarMax(HWND bar);
int BarPos(HWND bar);
// The list panel's counter (IDC_LISTCOUNT).
std::wstring Counter(HWND dlg);
// Idle as a drop sees it: the run is over (WaitIdle) and its thread has
// ended, as the window thread tells.
bool WaitEnded(const App& app, DWORD timeoutMs = 30000);
// Drops the targets, waits until the list shows every one of them queued
// ("n/n"), and starts the run; false when the list never showed them.
bool DropAndStart(const App& app, const std::vector<std::wstring>& targets);
// A control's text read with WM_GETTEXT, which also works for a window of
// another process (GetWindowText there gives only the stored caption).
std::wstring RemoteText(HWND dlg, int id);
// Presses Open on the main dialog dlg (of this or another process), types
// path into the Open dialog's file-name field and presses its OK; returns
// once the Open dialog has gone, or false (reported) when it never came, did
// not take the path or did not close. With an empty path it is cancelled.
// look, if given, sees the Open dialog first.
bool ChooseInOpenDialog(HWND dlg, const std::wstring& path, const std::function<void(HWND)>& look = nullptr);
// The CF_TEXT on the clipboard (present: there is one) and its
// CF_UNICODETEXT, read as another program would; the clipboard may be held
// open for a moment.
struct ClipText {
    bool present = false;
    std::string text;
    std::wstring unicode;
};
ClipText ReadClipboard();
// Puts Unicode text on the clipboard as another program leaves it (no
// window owns it); empty text empties the clipboard. False (reported) when
// the clipboard could not be had.
bool PutClipboardText(const std::wstring& text);
// Holds a file or folder open with no sharing, so nobody else can open it.
class HeldOpen {
public:
    explicit HeldOpen(const std::wstring& path);
    ~HeldOpen();
    HeldOpen(const HeldOpen&) = delete;
    HeldOpen& operator=(const HeldOpen&) = delete;

private:
    HANDLE m_h;
};
// A host path as the program sees it (Wine maps / to drive Z:).
std::wstring WinPath(const std::wstring& unixPath);
// The host path in the environment variable name, as the program sees it;
// empty when it is not set.
std::wstring EnvPath(const wchar_t* name);
// Milliseconds from the performance counter.
double NowMs();

}  // namespace harness
