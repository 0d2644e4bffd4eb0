// Threads: may run on several threads at once.
#pragma once

#include <string>

// The folder of the running executable, ending in the path separator, in the ANSI code page;
// a file name is appended to it directly. Empty when the executable's full path cannot be had.
std::string ModuleDirectory();
