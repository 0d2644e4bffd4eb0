// Fuzz target for the configuration encoding: any source bytes go through the text-mode reader
// and the Base64 line encoder; decoding each line of the encoded text must give the chunks that
// reading the source as the Windows C runtime's text mode does gives.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "encode/config_encoding.h"

namespace {

constexpr size_t kChunkBytes = 259;  // what one read of 260-byte capacity delivers at most

[[noreturn]] void Fail(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "configuration encoding property broken: %s [%.*s]\n", what,
               static_cast<int>(detail.size()), detail.data());
  std::abort();
}

// The encoded text of each chunk, before its first NUL, in source order. Text mode delivers a CR
// LF pair as LF and ends the file at the first Ctrl+Z; a chunk is a line up to and including its
// LF, or 259 bytes of a longer one; a chunk that starts with NUL ends the copy.
std::vector<std::string> ExpectedChunks(std::string_view source) {
  std::string delivered;
  for (size_t i = 0; i < source.size() && source[i] != '\x1A'; ++i) {
    if (source[i] == '\r' && i + 1 < source.size() && source[i + 1] == '\n') continue;
    delivered += source[i];
  }
  std::vector<std::string> chunks;
  size_t at = 0;
  while (at < delivered.size()) {
    size_t length = 0;
    while (length < kChunkBytes && at + length < delivered.size()) {
      if (delivered[at + length++] == '\n') break;
    }
    std::string chunk = delivered.substr(at, length);
    at += length;
    chunk = chunk.substr(0, chunk.find('\0'));
    if (chunk.empty()) break;
    chunks.push_back(chunk);
  }
  return chunks;
}

int Sextet(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Strict RFC 4648 decoding: groups of four, padding only at the end.
bool DecodeBase64(std::string_view text, std::string& bytes) {
  bytes.clear();
  if (text.empty() || text.size() % 4 != 0) return false;
  for (size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    int pads = (text[i + 3] == '=') + (text[i + 2] == '=');
    if (pads > 0 && !last) return false;
    if (text[i + 2] == '=' && text[i + 3] != '=') return false;
    unsigned group = 0;
    for (int k = 0; k < 4 - pads; ++k) {
      int value = Sextet(text[i + k]);
      if (value < 0) return false;
      group |= static_cast<unsigned>(value) << (18 - 6 * k);
    }
    bytes += static_cast<char>(group >> 16);
    if (pads < 2) bytes += static_cast<char>((group >> 8) & 0xFF);
    if (pads < 1) bytes += static_cast<char>(group & 0xFF);
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view source(reinterpret_cast<const char*>(data), size);
  const std::optional<std::string> encodedFile = EncodeConfigText(source);
  // UTF-16 text is converted before these rules apply (the unit tests' cases); UTF-16 BE text
  // is refused.
  if (source.starts_with("\xFF\xFE")) return 0;
  if (source.starts_with("\xFE\xFF") != !encodedFile) Fail("UTF-16 BE refusal");
  if (!encodedFile) return 0;
  const std::string& encoded = *encodedFile;
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < encoded.size()) {
    size_t end = encoded.find("\r\n", at);
    if (end == std::string::npos) Fail("encoded line without CR LF");
    lines.push_back(encoded.substr(at, end - at));
    at = end + 2;
  }

  const std::vector<std::string> expected = ExpectedChunks(source);
  if (lines.size() != expected.size()) Fail("number of lines");
  std::string decoded;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (!DecodeBase64(lines[i], decoded)) Fail("not Base64", lines[i]);
    if (decoded != expected[i]) Fail("decoded line differs from its chunk", lines[i]);
  }
  return 0;
}
