#include "app/module_directory.h"

#include "platform/platform.h"

std::string ModuleDirectory() {
  std::string path;
  if (!platform::GetExecutablePath(path)) return {};
  // The separator search is multibyte-aware: a second byte equal to the separator is no cut.
  size_t separator = platform::FindLastSeparator(path);
  if (separator != std::string::npos) path.resize(separator + 1);
  return path;
}
