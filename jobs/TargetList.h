// Turns the file list into one row per file before a run: folders are
// replaced, where they stand, by every file below them.
#pragma once
#include <windows.h>

#include <vector>

#include "framework/AfxString.h"

// Rows inserted so far in this expansion (also the next row's index).
extern int g_nListed;
// Scratch text of the expansion: the current entry, then the counter text.
extern CString g_strWork;
// The checking thread's own copy of column 0 of the rows the expansion made,
// in row order (the list itself receives them in batches).
extern std::vector<CString> g_listedPaths;

// Checking thread only: rebuilds rows 0..g_nItems-1 and sets g_nItems.
// A Stop ends it early; the entries not yet expanded (the folder being
// walked among them) then stay in the list as rows of their own.
void ExpandTargetList();
// Appends a row for every file below path, depth first, in search order;
// a folder that cannot be listed becomes a row itself.
void CollectFolder(CString path);

// True when the path names a folder (its attributes can be read and carry
// the folder bit); anything else counts as a file.
bool IsFolderPath(const char* path);

// How the walk learns a folder's identity (volume serial and file index) to
// recognise a link back to a folder it is already in. GetFileInformationByHandle
// unless replaced (tests imitate file systems that report no index).
using FileInformationFn = BOOL(WINAPI*)(HANDLE, LPBY_HANDLE_FILE_INFORMATION);
extern FileInformationFn g_pfnGetFileInformation;
// GetFileInformationByHandleEx where the system has it (Windows Vista and
// later), else null; the walk asks it first for the 128-bit file id (class
// FileIdInfo, Windows 8 and later). Tests replace it too.
using FileInformationExFn = BOOL(WINAPI*)(HANDLE, int, LPVOID, DWORD);
extern FileInformationExFn g_pfnGetFileInformationEx;
