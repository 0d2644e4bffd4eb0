// The files of a release folder that the tool knows by name. The two list files are named in
// inilist/file_list_writer.h. Constants only: any thread may read them.
#pragma once

#include "encode/config_encoding.h"
#include "inilist/file_list_writer.h"

inline constexpr char kToolExecutableName[] = "Tabulon.exe";
inline constexpr char kUpdaterExecutableName[] = "Patchwell.exe";

// The configuration files and their encoded copies, in the order they are encoded.
inline constexpr ConfigFilePair kConfigFilePairs[] = {
    {"set.ini", "set_e.ini"},
    {"game.ini", "game_e.ini"},
    {kClientIniName, "client_e.ini"},
};
