#include "app/run.h"

#include <vector>

#include "app/module_directory.h"
#include "app/scan.h"
#include "encode/config_encoding.h"
#include "inilist/file_list_writer.h"
#include "platform/platform.h"
#include "texts/console_texts.h"

namespace {

// The two lists; 1 when the folder could be listed, whatever happened to single files.
// `configPairs` gets the configuration files to encode as the folder spells them.
int WriteFileLists(const ExecutableFolder& home, const RunOptions& options,
                   std::vector<ConfigFilePair>& configPairs, int& failures) {
  // The lists live as long as this writer; the INI files hold what was written.
  CFileListWriter writer(options.writeAfterEveryFile);
  if (!writer.InitPaths(home.folder)) {
    // Without the executable's folder every path would be wrong: touch no file at all.
    platform::PrintText("%s", texts::kNoModuleDirectory);
    ++failures;
    return 0;
  }
  int listed = BuildFileLists(writer, home, options.digesting, configPairs, failures);
  if (listed != 1) ++failures;
  return listed;
}

}  // namespace

int RunTabulon(const RunOptions& options) {
  // Found and opened once: every file of the run is reached by its name in it.
  const ExecutableFolder home = ModuleDirectory();
  int failures = 0;
  std::vector<ConfigFilePair> configPairs;
  // client_e.ini encodes client.ini as the scan left it.
  int listed = WriteFileLists(home, options, configPairs, failures);
  // The lists are gone: the copies are made in the memory they held.
  platform::ReleaseFreedMemory();
  if (listed == 1 && !EncodeConfigFiles(home.folder, configPairs)) {
    ++failures;
  }
  platform::PrintText("%s", failures == 0 ? texts::kRunSucceeded : texts::kRunFailed);
  if (!platform::FlushConsole()) ++failures;
  platform::WaitForKey();
  return failures == 0 ? 0 : 1;
}
