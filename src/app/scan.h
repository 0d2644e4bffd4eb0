// The folder scan. Threads: BuildFileLists runs on one thread at a time, the one that owns the
// writer and the console; the workers of its digest queue only digest files.
#pragma once

#include <string>

#include "digest/md5_lanes.h"
#include "inilist/file_list_writer.h"

// Lists `folder` (the executable's folder, ending in the path separator), digests every file
// that passes the skip rules and records it in both lists of `writer`, whose InitPaths must have
// succeeded. Returns 1 when the folder was listed (whatever happened to single files), 0 when
// the listing could not start. `failures` counts what went wrong for single files and INI
// writes; the console tells which. Files that the run's writes cannot change are digested
// ahead of their turn as `digesting` says; the lists and console texts stay the same whatever
// it says.
struct DigestPlan {
  int workers;  // threads; none digests every file at its turn
  Md5Level level;
};
int BuildFileLists(CFileListWriter& writer, const std::string& folder, const DigestPlan& digesting,
                   int& failures);
