// Turns the file list into one row per file before a run: folders are
// replaced, where they stand, by every file below them.
#pragma once
#include <windows.h>

#include <vector>

#include "framework/AfxString.h"

// The expansion's state, used by the checking thread only: rows listed so
// far in this expansion (also the next row's index), and its scratch text.
// A run given up while its thread is stuck in a call never touches them
// again, so the thread of the next run has them to itself.
extern int g_nListed;
extern CString g_strWork;

// Checking thread only: turns the run's entries into rows (one per file, in
// place of each folder every file below it), recorded for the list as they
// are found and returned in rows. A Stop ends it early; the entries not yet
// expanded (the folder being walked among them) then stay rows of their own.
// False when the run was given up meanwhile (rows is then of no use).
bool ExpandTargetList(const std::vector<CString>& entries, std::vector<CString>* rows);
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
