// Fuzz target for multi-buffer MD5: any set of messages, through Md5DigestMessages at any level
// (the emulated AVX-512 transform included), gives every message the digest of Md5Buffer.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "digest/md5_lane_driver.h"
#include "digest/md5_transforms.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const int choice = input.ConsumeIntegralInRange(0, 3);
  const Md5Kernel kernel = choice == 3
                               ? Md5Kernel{Md5Level::kAvx512, 16, Md5TransformAvx512Emulated}
                               : Md5KernelFor(static_cast<Md5Level>(choice));
  // The messages are pieces of the bytes left after their lengths, which they may share.
  const size_t count = input.ConsumeIntegralInRange<size_t>(0, 40);
  std::vector<std::pair<size_t, size_t>> pieces;
  for (size_t i = 0; i < count; ++i) {
    const size_t start = input.ConsumeIntegralInRange<size_t>(0, 4096);
    pieces.emplace_back(start, input.ConsumeIntegralInRange<size_t>(0, 1000));
  }
  const std::vector<unsigned char> bytes = input.ConsumeRemainingBytes<unsigned char>();
  std::vector<std::span<const unsigned char>> messages;
  for (const auto& [start, length] : pieces) {
    const size_t from = std::min(start, bytes.size());
    messages.emplace_back(bytes.data() + from, std::min(length, bytes.size() - from));
  }

  std::vector<Md5Digest> digests(messages.size());
  Md5DigestMessages(kernel, messages, digests);
  for (size_t i = 0; i < messages.size(); ++i) {
    Md5Digest expected;
    Md5Buffer(messages[i].data(), messages[i].size(), expected.data());
    if (digests[i] != expected) {
      std::fprintf(stderr, "%s: message %zu of %zu (%zu bytes) has a wrong digest\n",
                   Md5LevelName(kernel.level), i, messages.size(), messages[i].size());
      std::abort();
    }
  }
  return 0;
}
