#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "digest/md5.h"

namespace {

constexpr size_t kBufferSize = 64 << 20;

const std::vector<unsigned char>& Buffer() {
  static const std::vector<unsigned char> buffer = [] {
    std::vector<unsigned char> bytes(kBufferSize);
    std::mt19937 generator(1);
    for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(generator());
    return bytes;
  }();
  return buffer;
}

// The whole buffer through one context, appended in pieces of state.range(0) bytes: 1024 as the
// file digest reads, or the whole buffer at once.
void BM_Md5Append(benchmark::State& state) {
  const std::vector<unsigned char>& buffer = Buffer();
  const size_t piece = static_cast<size_t>(state.range(0));
  unsigned char expected[kMd5DigestSize];
  Md5Buffer(buffer.data(), buffer.size(), expected);

  unsigned char digest[kMd5DigestSize] = {};
  for (auto _ : state) {
    Md5Context context;
    Md5Init(context);
    for (size_t offset = 0; offset < buffer.size(); offset += piece)
      Md5Append(context, buffer.data() + offset, static_cast<int>(piece));
    Md5Finish(context, digest);
    benchmark::DoNotOptimize(digest);
  }
  if (std::memcmp(digest, expected, sizeof digest) != 0) state.SkipWithError("wrong digest");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(buffer.size()));
}
BENCHMARK(BM_Md5Append)->Arg(1024)->Arg(kBufferSize)->Unit(benchmark::kMillisecond);

}  // namespace
