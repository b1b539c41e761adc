// Paths as the file system is asked for them.
#pragma once
#include "framework/AfxString.h"

// The "\\?\" form of a full path as a person picked it with Open or dropped
// it, in which every name is the file it is: "aux.txt", "com1" or "nul" in
// a folder are files there, not devices, a name may end in a dot or a
// blank, and the path may be longer than MAX_PATH. path is normalized first
// ("." and ".." taken out, '/' read as '\'), as the system does for ordinary
// paths; a drive path "C:\..." becomes "\\?\C:\...", a UNC path
// "\\server\share\..." becomes "\\?\UNC\server\share\...". A path already in
// the "\\?\" or "\\.\" form is returned as it is, and so is any other path
// (the empty one, a relative one: neither Open nor a drop gives one).
// Paths the walk finds are never passed through here again: each is its
// folder's form and the name the search returned.
CStringW ExtendedPath(const wchar_t* path);
