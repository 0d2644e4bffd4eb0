#include "app/run.h"

#include <algorithm>
#include <cstdio>
#include <thread>

#include "app/module_directory.h"
#include "app/release_files.h"
#include "app/scan.h"
#include "encode/config_encoding.h"
#include "inilist/file_list_writer.h"
#include "texts/console_texts.h"
#include "platform/platform.h"

namespace {

int DigestWorkers(const RunOptions& options) {
  if (options.digestWorkers != RunOptions::kAutomaticWorkers) return options.digestWorkers;
  return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1,
                    RunOptions::kMostWorkers);
}

// The two lists; 1 when the folder could be listed, whatever happened to single files.
int WriteFileLists(const std::string& folder, const RunOptions& options, int& failures) {
  // The lists live as long as this writer; the INI files hold what was written.
  CFileListWriter writer(options.writeAfterEveryFile);
  if (!writer.InitPaths(folder)) {
    // Without the executable's folder every path would be wrong: touch no file at all.
    platform::PrintText("%s", texts::kNoModuleDirectory);
    ++failures;
    return 0;
  }
  int listed = BuildFileLists(writer, folder, {DigestWorkers(options), options.md5Level}, failures);
  if (listed != 1) ++failures;
  return listed;
}

}  // namespace

int RunTabulon(const RunOptions& options) {
  // Found once: every path of the run starts with it.
  const std::string folder = ModuleDirectory();
  int failures = 0;
  // client_e.ini encodes client.ini as the scan left it.
  if (WriteFileLists(folder, options, failures) == 1 &&
      !EncodeConfigFiles(folder, kConfigFilePairs)) {
    ++failures;
  }
  platform::PrintText("%s", failures == 0 ? texts::kRunSucceeded : texts::kRunFailed);
  if (!platform::FlushConsole()) ++failures;
  std::getchar();
  return failures == 0 ? 0 : 1;
}
