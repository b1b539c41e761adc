/* A hidden Wine GUI program kept running for a whole test session. Creating
   its window starts Wine's desktop process with this program's stdio
   (/dev/null), so a test never starts it holding ctest's pipes; and while one
   Wine GUI process lives, the desktop does not quit and restart between tests. It also measures a 247 x 123
   DLU dialog in the template font (9 pt): with the font replacement in effect
   that is 6 x 12 base units and a 371 x 185 client area, as on Windows at 96
   DPI. Argument: a file it writes once its window exists, holding
   "BASEX BASEY CLIENTW CLIENTH". It gives up after 4 hours. */
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>

/* Client size and base units of a 247 x 123 DLU dialog in the template font. */
static void measure(int out[4]) {
    static WORD t[64];
    DLGTEMPLATE *d = (DLGTEMPLATE *)t;
    WORD *p = (WORD *)(d + 1);
    RECT r = {0, 0, 4, 8}, c = {0, 0, 0, 0};
    HWND h;
    d->style = WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT;
    d->cx = 247; d->cy = 123;
    *p++ = 0; *p++ = 0; *p++ = 0;          /* no menu, default class, no title */
    *p++ = 9; *p++ = 0x5B8B; *p++ = 0x4F53; *p++ = 0;   /* 9 pt, U+5B8B U+4F53 */
    h = CreateDialogIndirectA(GetModuleHandleA(NULL), d, NULL, NULL);
    if (h) {
        MapDialogRect(h, &r);
        GetClientRect(h, &c);
        DestroyWindow(h);
    }
    out[0] = r.right; out[1] = r.bottom; out[2] = c.right; out[3] = c.bottom;
}

int WINAPI WinMain(HINSTANCE i, HINSTANCE p, LPSTR c, int s) {
    (void)i; (void)p; (void)c; (void)s;
    HWND w = CreateWindowA("STATIC", "quellin-idle", WS_POPUP, 0, 0, 1, 1, NULL, NULL, NULL, NULL);
    if (!w) return 1;
    int m[4];
    measure(m);
    int argc = 0;
    LPWSTR *argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv && argc > 1) {
        HANDLE f = CreateFileW(argv[1], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        if (f != INVALID_HANDLE_VALUE) {
            char text[64];
            DWORD n = (DWORD)snprintf(text, sizeof text, "%d %d %d %d\n", m[0], m[1], m[2], m[3]);
            WriteFile(f, text, n, &n, NULL);
            CloseHandle(f);
        }
    }
    DWORD end = GetTickCount() + 4u * 3600u * 1000u; /* gives up after 4 hours */
    MSG msg;
    while ((LONG)(end - GetTickCount()) > 0) {
        MsgWaitForMultipleObjects(0, NULL, FALSE, 60000, QS_ALLINPUT);
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    }
    return 0;
}
