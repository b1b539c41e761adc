// Turns the file list into one row per file before a run: folders are
// replaced, where they stand, by every file below them.
#pragma once
#include "framework/AfxString.h"

// Rows inserted so far in this expansion (also the next row's index).
extern int g_nListed;
// Scratch text of the expansion: the current entry, then the counter text.
extern CString g_strWork;

// Checking thread only: rebuilds rows 0..g_nItems-1 and sets g_nItems.
// Stops early, keeping the rows made so far, when g_bWorking is no longer 1.
void ExpandTargetList();
// Appends a row for every file below path, depth first, in search order.
void CollectFolder(CString path);

// True when the path names a folder (its attributes can be read and carry
// the folder bit); anything else counts as a file.
bool IsFolderPath(const char* path);
