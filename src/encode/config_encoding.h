// Line-by-line Base64 copies of configuration files: set.ini -> set_e.ini and so on.
//
// Encoded file format: one line per chunk read from the source in the Windows C runtime's text
// mode (CR LF read as LF, the first 0x1A taken as the end of the file), holding the Base64 text
// of the chunk's bytes and ending in CR LF. A chunk is a source line up to and including its
// LF, or the next 259 bytes of a longer line, or a last line without LF. Only the bytes before
// a NUL in a chunk are encoded, and a chunk that starts with NUL ends the copy.
//
// Threads: every function may run on several threads at once, on different destinations.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/platform.h"

// A configuration file and its encoded copy, by their names in one folder.
struct ConfigFilePair {
  std::string source;
  std::string destination;
};

// The encoded copy of a configuration file whose bytes are `source`. A file that starts with the
// UTF-16 LE byte-order mark (FF FE) is encoded as the text the profile functions read from it,
// converted to code page 936 (a character without a GBK form becomes '?', an odd last byte is
// dropped), so that the client decodes the lines a GBK file of that text gives. None for a file
// with the UTF-16 BE mark (FE FF), which the profile functions do not read as text either.
std::optional<std::string> EncodeConfigText(std::string_view source);

// Encodes one pair of files of `folder`. The source is opened read-only, so it is never changed;
// the destination is replaced whole and atomically. Returns 1 on success. Returns 0 and prints
// a console text naming the path, leaving the destination as it was:
// - the source cannot be opened ("...无法打开,已跳过编码");
// - reading the source fails partway or meets a change, the source is UTF-16 BE text, or the
//   destination cannot be written ("写入...失败").
int EncodeConfigFile(const platform::Folder& folder, const ConfigFilePair& pair);

// Encodes each pair of `pairs`, in order, in `folder`. A failed pair does not stop the others.
// Returns 1 when every pair was encoded, 0 when any failed.
int EncodeConfigFiles(const platform::Folder& folder, std::span<const ConfigFilePair> pairs);
