// Turns the file list into one row per file before a run: folders are
// replaced, where they stand, by every file below them.
#pragma once
#include <windows.h>

#include <vector>

#include "framework/AfxString.h"

// A path of the walk: as the list shows it (the entry as it was dropped,
// then the names below it), and the form it is opened in (the entry's
// "\\?\" form, then the same names exactly as the search returned them).
struct WalkPath {
    CStringW shown;
    CStringW open;
};

// One target of a run: a row of the list as Start found it. A row the walk
// made (a file it found, or a folder it did not enter: a link back, a folder
// that could not be listed) is taken as it is; a row that was dropped, or
// that a Stop left unwalked, is expanded.
struct RunTarget {
    CStringW path;
    bool walked = false;
};

// The expansion's state, used by the checking thread only: rows listed so
// far in this expansion (also the next row's index), and its scratch text
// (the counter's). A run given up while its thread is stuck in a call never
// touches them again, so the thread of the next run has them to itself.
extern int g_nListed;
extern CString g_strWork;

// Checking thread only: turns the run's entries (paths as the list shows
// them) into rows, one per file, each folder that is to be walked replaced
// where it stands by every file below it. Every row is recorded for the list
// as it is found; rows receives the forms they are opened in. A Stop, or
// memory running out (*outOfMemory is then set), ends it early; the entries
// not yet expanded (the folder being walked among them) then stay rows of
// their own. False when the run was given up meanwhile (rows is then of no
// use).
bool ExpandTargetList(const std::vector<RunTarget>& entries, std::vector<CStringW>* rows, bool* outOfMemory);
// Appends a row for every file below the folder, depth first, in search
// order; a folder that cannot be listed, or that leads back to a folder the
// walk is in, becomes a row itself. The walk keeps its folders on the heap,
// not on the thread's stack: any depth a path can reach is walked.
void CollectFolder(WalkPath folder);

// The walk's list of rows grows through this (rows->reserve unless replaced:
// tests make it fail, as when memory runs out).
using ReserveRowsFn = void (*)(std::vector<CStringW>* rows, size_t count);
extern ReserveRowsFn g_pfnReserveRows;

// True when the path (in the form it is opened in) names a folder: its
// attributes can be read and carry the folder bit; anything else counts as
// a file.
bool IsFolderPath(const wchar_t* path);

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
