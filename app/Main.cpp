#include <windows.h>

#include "app/DigestApp.h"
#include "framework/AfxWin.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // The application object lives in the program's library; naming it here
    // is what links it in.
    if (AfxGetApp() != &theApp) return 1;
    return AfxWinMain();
}
