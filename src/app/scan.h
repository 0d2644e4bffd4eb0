// The folder scan. Threads: BuildFileLists runs on one thread at a time, the one that owns the
// writer and the console; the thread it starts to digest ahead calls only DigestFile, on files
// it alone touches until it hands them back under a lock. The name rules may run on several
// threads at once.
#pragma once

#include <string_view>

#include "inilist/file_list_writer.h"

// Lists the executable's folder, digests every file that passes the skip rules and records it in
// both lists of `writer`, whose InitPaths must have succeeded. Returns 1 when the folder was
// listed (whatever happened to single files), 0 when the listing could not start. `failures`
// counts what went wrong for single files and INI writes; the console tells which. With
// `digestAhead`, files that the run's writes cannot change are also digested on a second thread
// ahead of their turn; the lists and console texts stay the same.
int BuildFileLists(CFileListWriter& writer, int& failures, bool digestAhead);

// True for the names the scan leaves alone: names beginning with a dot, the update list's own
// file and the two executables of the release.
bool IsSkippedName(std::string_view name);

// True when the lists can carry `name`: an INI value reads it back unchanged (no CR or LF, no
// blank at either end, not wrapped in matching quotes) and Windows can create and open a file
// of that name (no control characters or any of < > : " / \ | ? *, no trailing dot, no device
// name such as CON or COM1). Such names cannot reach a Windows client whichever build lists them.
bool IsListableName(std::string_view name);
