#include "digest/digest_file.h"

#include <cstring>

#include "platform/platform.h"

namespace {

// Whole blocks, so each chunk is transformed where it lies and nothing is copied into the context
// between reads; large, so that a file costs few reads.
constexpr size_t kChunkSize = 64 * 1024;
static_assert(kChunkSize % kMd5BlockSize == 0);

}  // namespace

int DigestFile(const platform::Folder& folder, const std::string& name,
               unsigned char digest[kMd5DigestSize]) {
  platform::InputFile file = platform::InputFile::Open(folder, name);
  if (!file.IsOpen()) return 0;

  Md5Context context;
  Md5Init(context);
  // On the stack, so that no file costs an allocation.
  alignas(64) unsigned char chunk[kChunkSize];
  for (;;) {
    const std::int64_t count = file.Read(chunk, kChunkSize);
    // A failed read must not pass for the end of the file: a digest of part of it would be wrong.
    if (count < 0) return 0;
    if (count == 0) break;
    Md5Append(context, chunk, static_cast<int>(count));
  }
  // The caller's buffer is written only on success.
  unsigned char result[kMd5DigestSize];
  Md5Finish(context, result);
  std::memcpy(digest, result, kMd5DigestSize);
  return 1;
}

std::string FormatDigestHex(const unsigned char digest[kMd5DigestSize]) {
  // What "%02x" gives for each byte, without formatting 16 times per file.
  constexpr char kHexDigits[] = "0123456789abcdef";
  std::string hex(2 * kMd5DigestSize, '0');
  for (int i = 0; i < kMd5DigestSize; ++i) {
    hex[2 * i] = kHexDigits[digest[i] >> 4];
    hex[2 * i + 1] = kHexDigits[digest[i] & 0x0F];
  }
  return hex;
}
