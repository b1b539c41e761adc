// Picking one file with the system's Open dialog.
#pragma once
#include <windows.h>

// Runs the Open dialog owned by the main window. path (size characters)
// receives the chosen file; filter is pairs of zero-terminated texts ending
// in an extra zero. Non-zero when the user chose a file.
BOOL ChooseFile(wchar_t* path, DWORD size, const wchar_t* filter);
