// The files of a release folder that the tool knows by name, and how a folder spells them. The
// two list files are named in inilist/file_list_writer.h. Threads: the constants may be read by
// any thread; SpellKnownNames prints, on the thread that owns the console.
#pragma once

#include <vector>

#include "encode/config_encoding.h"
#include "inilist/file_list_writer.h"

inline constexpr char kToolExecutableName[] = "Tabulon.exe";
inline constexpr char kUpdaterExecutableName[] = "Patchwell.exe";

// The configuration files and their encoded copies, in the order they are encoded.
struct ConfigFileNames {
  const char* source;
  const char* copy;
};
inline constexpr ConfigFileNames kConfigFiles[] = {
    {"set.ini", "set_e.ini"},
    {"game.ini", "game_e.ini"},
    {kClientIniName, "client_e.ini"},
};

// The names the tool knows as a listed folder spells them.
struct KnownSpellings {
  SpelledName updateIni;
  SpelledName clientIni;
  // The pairs to encode: all but those with a file spelled several ways.
  std::vector<ConfigFilePair> configPairs;
  int spelledSeveralWays = 0;
};

// Finds each known name among `entries` in any letter case, as Windows does. Prints
// "存在多个仅大小写不同的%s" for each name that several entries match; the run touches none of
// them.
KnownSpellings SpellKnownNames(const std::vector<platform::DirEntry>& entries);
