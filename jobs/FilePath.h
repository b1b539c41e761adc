// Paths as the file system is asked for them.
#pragma once
#include <string>

#include "framework/AfxString.h"

// The "\\?\" form of path, in which every name is the file it is: "aux.txt",
// "com1" or "nul" in a folder are files there, not devices, and a name may
// end in a dot or a blank. path is made full and normalized first (relative
// paths against the current folder, "." and ".." taken out, '/' read as '\'),
// as the system does for ordinary paths; a UNC path "\\server\share\..."
// becomes "\\?\UNC\server\share\...". A path already in the "\\?\" or "\\.\"
// form is returned as it is, and so is the empty path.
CString ExtendedPath(const char* path);
// The same as UTF-16, for the wide file functions: only they take a "\\?\"
// path longer than MAX_PATH.
std::wstring ExtendedPathW(const char* path);
