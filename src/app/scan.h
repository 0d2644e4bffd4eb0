// The folder scan. Threads: BuildFileLists runs on one thread at a time, the one that owns the
// writer and the console; the workers of its digest queue only digest files.
#pragma once

#include <vector>

#include "app/module_directory.h"
#include "digest/digest_queue.h"
#include "encode/config_encoding.h"
#include "inilist/file_list_writer.h"

// Lists `home.folder`, digests every file that passes the skip rules and records it in both
// lists of `writer`, whose InitPaths must have succeeded. Returns 1 when the folder was listed
// (whatever happened to single files), 0, telling it, when the listing could not start.
// `configPairs` gets the configuration files to encode as the folder spells them. `failures`
// counts what went wrong for single files, known names and INI writes; the console tells which.
// Files that the run's writes cannot change are digested ahead of their turn as `digesting`
// says; the lists and console texts stay the same whatever it says.
int BuildFileLists(CFileListWriter& writer, const ExecutableFolder& home,
                   const DigestPlan& digesting, std::vector<ConfigFilePair>& configPairs,
                   int& failures);
