#pragma once

#include <string_view>

#include "inilist/file_list_writer.h"

// Lists the executable's folder, digests every file that passes the skip rules and records it in
// both lists of `writer`, whose InitPaths must have succeeded. Returns 1 when the folder was
// listed (whatever happened to single files), 0 when the listing could not start. `failures`
// counts what went wrong for single files and INI writes; the console tells which.
int BuildFileLists(CFileListWriter& writer, int& failures);

// True for the names the scan leaves alone: names beginning with a dot, the update list's own
// file and the two executables of the release.
bool IsSkippedName(std::string_view name);

// True when an INI value can carry `name` back unchanged: no CR or LF, no blank at either end,
// not wrapped in matching quotes.
bool NameFitsIniValue(std::string_view name);
