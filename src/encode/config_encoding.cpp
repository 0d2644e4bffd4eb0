#include "encode/config_encoding.h"

#include <algorithm>

#include "encode/base64.h"
#include "platform/platform.h"
#include "texts/console_texts.h"

namespace {

// One read delivers at most 259 bytes and its NUL; the encoded files' line lengths depend on it.
constexpr int kChunkCapacity = 260;
constexpr int kEncodedCapacity = kBase64OutputLimit;
static_assert(Base64EncodedLength(kChunkCapacity - 1) + 1 <= kEncodedCapacity);

// The bytes a text-mode stream delivers: up to the first 0x1A, each CR LF read as LF.
std::string TextModeBytes(std::string_view source) {
  source = source.substr(0, source.find('\x1A'));
  std::string delivered;
  delivered.reserve(source.size());
  // The bytes up to each CR LF are copied as one run; the CR is left out.
  for (size_t start = 0; start < source.size();) {
    size_t lineEnd = std::min(source.find("\r\n", start), source.size());
    delivered.append(source.substr(start, lineEnd - start));
    start = lineEnd + 1;
  }
  return delivered;
}

}  // namespace

std::optional<std::string> EncodeConfigText(std::string_view source) {
  if (source.starts_with("\xFE\xFF")) return std::nullopt;
  std::string converted;
  if (source.starts_with("\xFF\xFE")) {
    converted = platform::Utf16LittleEndianToAnsi(source.substr(2));
    source = converted;
  }
  const std::string delivered = TextModeBytes(source);
  // Room for the whole copy, so that the text of a large file is never copied as it grows: each
  // chunk, a line or a piece of one, takes at most 4 / 3 of its bytes and 6 more.
  size_t chunks = static_cast<size_t>(std::count(delivered.begin(), delivered.end(), '\n')) +
                  delivered.size() / (kChunkCapacity - 1) + 1;
  std::string encodedFile;
  encodedFile.reserve(delivered.size() / 3 * 4 + 6 * chunks);
  char encoded[kEncodedCapacity];
  for (std::string_view rest = delivered; !rest.empty();) {
    // A chunk: the line up to and including its LF, at most kChunkCapacity - 1 bytes of it.
    size_t lineEnd = rest.find('\n');
    size_t length = lineEnd == std::string_view::npos ? rest.size() : lineEnd + 1;
    length = std::min(length, static_cast<size_t>(kChunkCapacity - 1));
    std::string_view chunk = rest.substr(0, length);
    rest.remove_prefix(length);
    // Only the bytes before a NUL are encoded; a chunk starting with NUL ends the copy.
    chunk = chunk.substr(0, chunk.find('\0'));
    if (chunk.empty()) break;
    int count = Base64Encode(reinterpret_cast<const unsigned char*>(chunk.data()),
                             static_cast<int>(chunk.size()), encoded);
    // Each line ends as the text-mode write of "%s\n" ends it.
    encodedFile.append(encoded, static_cast<size_t>(count)).append("\r\n");
  }
  return encodedFile;
}

int EncodeConfigFile(const platform::Folder& folder, const ConfigFilePair& pair) {
  std::string source;
  platform::ReadResult read = platform::ReadWholeFile(folder, pair.source, source);
  if (read == platform::ReadResult::kMissing || read == platform::ReadResult::kUnopenable) {
    platform::PrintText(texts::kSourceUnopenable, folder.PathOf(pair.source).c_str());
    return 0;
  }
  std::optional<std::string> encoded;
  if (read == platform::ReadResult::kOk) encoded = EncodeConfigText(source);
  if (!encoded || !platform::ReplaceFileAtomically(folder, pair.destination, *encoded)) {
    platform::PrintText(texts::kWriteFailed, folder.PathOf(pair.destination).c_str());
    return 0;
  }
  return 1;
}

int EncodeConfigFiles(const platform::Folder& folder, std::span<const ConfigFilePair> pairs) {
  int allEncoded = 1;
  for (const ConfigFilePair& pair : pairs) {
    if (!EncodeConfigFile(folder, pair)) allEncoded = 0;
  }
  return allEncoded;
}
