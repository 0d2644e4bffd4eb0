#include "encode/config_encoding.h"

#include <cstdio>
#include <cstring>

#include "app/console_texts.h"
#include "app/module_directory.h"
#include "encode/base64.h"
#include "platform/platform.h"

namespace {

struct ConfigFilePair {
  const char* source;
  const char* destination;
};

constexpr ConfigFilePair kConfigFilePairs[] = {
    {"set.ini", "set_e.ini"},
    {"game.ini", "game_e.ini"},
    {"client.ini", "client_e.ini"},
};

// One read delivers at most 259 bytes and its NUL; the encoded files' line lengths depend on it.
constexpr int kChunkCapacity = 260;
constexpr int kEncodedCapacity = kBase64OutputLimit;
static_assert(Base64EncodedLength(kChunkCapacity - 1) + 1 <= kEncodedCapacity);

}  // namespace

int EncodeConfigFile(const std::string& sourcePath, const std::string& destinationPath) {
  platform::TextFile* source = platform::OpenTextForReading(sourcePath);
  if (source == nullptr) {
    std::printf(texts::kSourceUnopenable, sourcePath.c_str());
    return 0;
  }
  platform::TextFile* destination = platform::CreateTextForWriting(destinationPath);
  if (destination == nullptr) {
    platform::CloseText(source);
    std::printf(texts::kWriteFailed, destinationPath.c_str());
    return 0;
  }

  char chunk[kChunkCapacity] = {};
  char encoded[kEncodedCapacity] = {};
  bool written = true;
  // The end is tested before the first read and after every written line: a last line ending in
  // LF leaves the indicator clear, and the next read, delivering nothing, ends the loop.
  while (!platform::TextAtEnd(source)) {
    // Cleared before every read, so a read that delivers nothing leaves an empty chunk.
    std::memset(chunk, 0, sizeof chunk);
    platform::ReadTextLine(source, chunk, kChunkCapacity);
    // Only the bytes before a NUL are encoded; a chunk starting with NUL ends the copy.
    const int length = static_cast<int>(std::strlen(chunk));
    if (length == 0) break;
    Base64Encode(reinterpret_cast<const unsigned char*>(chunk), length, encoded);
    if (!platform::WriteTextLine(destination, encoded)) written = false;
  }

  if (!platform::CloseText(destination)) written = false;
  // The source's close reports a failed read, which cut the copy short.
  if (!platform::CloseText(source)) written = false;
  if (!written) {
    std::printf(texts::kWriteFailed, destinationPath.c_str());
    return 0;
  }
  return 1;
}

int EncodeConfigFiles() {
  int allEncoded = 1;
  for (const ConfigFilePair& pair : kConfigFilePairs) {
    const std::string directory = ModuleDirectory();
    if (!EncodeConfigFile(directory + pair.source, directory + pair.destination)) allEncoded = 0;
  }
  return allEncoded;
}
