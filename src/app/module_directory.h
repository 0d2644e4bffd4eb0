// Threads: may run on several threads at once.
#pragma once

#include <string>

#include "platform/platform.h"

// The folder of the running executable, open, and the executable's own name in it.
struct ExecutableFolder {
  platform::Folder folder;     // not open when the folder cannot be had
  std::string executableName;  // ANSI
};

// The executable's folder: the one the path it was started through leads to, resolved as the
// system resolves it (platform::OpenExecutableFolder). Not open when it cannot be had, or its
// path has no exact form in the ANSI code page.
ExecutableFolder ModuleDirectory();
