#include "digest/digest_file.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace {

// A multiple of the block size, so whole chunks are transformed where they lie and nothing is
// copied into the context between reads.
constexpr size_t kChunkSize = 1024;
static_assert(kChunkSize % kMd5BlockSize == 0);

// The stream behind the chunks reads from the system in large pieces: few calls per file.
constexpr size_t kStreamBufferSize = 64 * 1024;

}  // namespace

int DigestFile(const std::string& path, unsigned char digest[kMd5DigestSize]) {
  // On the stack, so that no file costs an allocation. The system fills a buffer that starts on a
  // cache line markedly faster than one that does not.
  alignas(64) char streamBuffer[kStreamBufferSize];
  platform::UniqueFile file = platform::OpenForBinaryRead(path, streamBuffer, kStreamBufferSize);
  if (!file) return 0;

  Md5Context context;
  Md5Init(context);
  unsigned char chunk[kChunkSize];
  for (;;) {
    const size_t count = std::fread(chunk, 1, kChunkSize, file.get());
    Md5Append(context, chunk, static_cast<int>(count));
    // fread comes up short only at the end of the file or on an error; never read past either.
    if (count < kChunkSize) break;
  }
  // A failed read must not pass for the end of the file: a digest of part of it would be wrong.
  // A failed close of a stream that was only read cannot change the bytes it delivered, so it
  // does not fail a digest of a file that was read to its end.
  if (std::ferror(file.get()) != 0) return 0;

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
