// Line-by-line Base64 copies of the configuration files beside the executable: set.ini ->
// set_e.ini, game.ini -> game_e.ini, client.ini -> client_e.ini.
//
// Encoded file format: one line per chunk read from the source in text mode (CR LF read as LF,
// the first 0x1A taken as the end of the file), holding the Base64 text of the chunk's bytes and
// ending in CR LF. A chunk is a source line up to and including its LF, or the next 259 bytes of
// a longer line, or a last line without LF. Only the bytes before a NUL in a chunk are encoded,
// and a chunk that starts with NUL ends the copy.
// Threads: one thread at a time; the functions print to the console and write fixed file names.
#pragma once

#include <string>

// Encodes the three pairs, in the order above, asking for the executable's folder once per pair.
// A failed pair does not stop the others. Returns 1 when every pair was encoded, 0 when any
// failed (its text is printed by EncodeConfigFile).
int EncodeConfigFiles();

// Encodes one pair. The source is opened read-only, so it is never changed; only once it is open
// is the destination created, or emptied and replaced whole. Returns 1 on success. Returns 0 and
// prints a console text naming the path:
// - the source cannot be opened: the destination is left untouched ("...无法打开,已跳过编码");
// - the destination cannot be created, a write to it or its close fails, or reading the source
//   fails partway so the copy is incomplete ("写入...失败").
int EncodeConfigFile(const std::string& sourcePath, const std::string& destinationPath);
