#include "app/module_directory.h"

ExecutableFolder ModuleDirectory() {
  ExecutableFolder home;
  platform::OpenExecutableFolder(home.folder, home.executableName);
  return home;
}
