// The application object: runs the main dialog modally.
#pragma once
#include "framework/AfxWin.h"

class CDigestApp : public CWinApp {
public:
    CDigestApp() : CWinApp(nullptr) {}
    BOOL InitInstance() override;
};

extern CDigestApp theApp;
