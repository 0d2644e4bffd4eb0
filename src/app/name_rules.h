// Which entries of a release folder the scan lists. Threads: both functions may run on several
// threads at once.
#pragma once

#include <string_view>

// True for the names the scan leaves alone: names beginning with a dot, the update list's own
// file, the two executables of the release and `executableName`, the running executable's own
// name, in any letter case, as Windows matches names.
bool IsSkippedName(std::string_view name, std::string_view executableName);

// True when the lists can carry `name`: an INI value reads it back unchanged (no CR or LF, no
// blank at either end, not wrapped in matching quotes) and Windows can create and open a file
// of that name (no control characters or any of < > : " / \ | ? *, no trailing dot, no device
// name such as CON or COM1). Such names cannot reach a Windows client whichever build lists them.
bool IsListableName(std::string_view name);
