#include "app/run.h"

#include <cstdio>
#include <memory>

#include "app/console_texts.h"
#include "app/scan.h"
#include "encode/config_encoding.h"
#include "inilist/file_list_writer.h"

int RunTabulon(const RunOptions& options) {
  bool succeeded = false;
  auto writer = std::make_unique<CFileListWriter>();
  writer->m_WriteAfterEveryFile = options.writeAfterEveryFile;
  if (!writer->InitPaths()) {
    // Without the executable's folder every path would be wrong: touch no file at all.
    std::fputs(texts::kNoModuleDirectory, stdout);
  } else {
    int failures = 0;
    int listed = BuildFileLists(*writer, failures, options.digestAhead);
    // The lists end here; client_e.ini encodes client.ini as the scan left it.
    writer.reset();
    succeeded = listed == 1 && failures == 0;
    if (listed == 1 && !EncodeConfigFiles()) succeeded = false;
  }
  std::fputs(succeeded ? texts::kRunSucceeded : texts::kRunFailed, stdout);
  std::fflush(stdout);
  if (std::ferror(stdout)) succeeded = false;
  std::getchar();
  return succeeded ? 0 : 1;
}
