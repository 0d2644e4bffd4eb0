// Fuzz target for MD5: any split of the same bytes into Md5Append calls, empty ones included,
// gives the digest of Md5Buffer over the whole message.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "digest/md5.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  // The split is taken from the end of the input, the message from its front.
  const size_t pieces = input.ConsumeIntegralInRange<size_t>(0, 32);
  std::vector<size_t> lengths;
  for (size_t i = 0; i < pieces; ++i)
    lengths.push_back(input.ConsumeIntegralInRange<size_t>(0, 200));
  const std::vector<unsigned char> message = input.ConsumeRemainingBytes<unsigned char>();

  unsigned char whole[kMd5DigestSize];
  Md5Buffer(message.data(), message.size(), whole);

  Md5Context context;
  Md5Init(context);
  size_t at = 0;
  for (size_t length : lengths) {
    length = std::min(length, message.size() - at);
    // An empty append passes no data at all.
    Md5Append(context, length == 0 ? nullptr : message.data() + at, static_cast<int>(length));
    at += length;
  }
  Md5Append(context, message.data() + at, static_cast<int>(message.size() - at));
  unsigned char split[kMd5DigestSize];
  Md5Finish(context, split);

  if (std::memcmp(whole, split, kMd5DigestSize) != 0) {
    std::fprintf(stderr, "MD5 of %zu bytes depends on how they are appended\n", message.size());
    std::abort();
  }
  return 0;
}
