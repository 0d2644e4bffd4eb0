// Multi-buffer MD5 in memory: 16 messages of 4 MiB through Md5DigestMessages at each level the
// machine has, next to the one-message code over the same messages. Bytes per second of CPU time.
#include <benchmark/benchmark.h>

#include <random>
#include <span>
#include <vector>

#include "digest/md5_lane_driver.h"

namespace {

constexpr size_t kMessageCount = 16;
constexpr size_t kMessageSize = 4 << 20;

struct Messages {
  std::vector<unsigned char> bytes;
  std::vector<std::span<const unsigned char>> views;
  std::vector<Md5Digest> expected;
};

const Messages& TestMessages() {
  static const Messages messages = [] {
    Messages m;
    m.bytes.resize(kMessageCount * kMessageSize);
    std::mt19937 generator(1);
    for (unsigned char& byte : m.bytes) byte = static_cast<unsigned char>(generator());
    for (size_t i = 0; i < kMessageCount; ++i) {
      m.views.emplace_back(m.bytes.data() + i * kMessageSize, kMessageSize);
      Md5Buffer(m.views[i].data(), kMessageSize, m.expected.emplace_back().data());
    }
    return m;
  }();
  return messages;
}

// A wrong digest fails the benchmark, so the work cannot be dropped; the bytes are counted.
void CheckAndCount(benchmark::State& state, const std::vector<Md5Digest>& digests) {
  if (digests != TestMessages().expected) state.SkipWithError("wrong digest");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kMessageCount * kMessageSize));
}

// state.range(0) is the Md5Level; a level the machine lacks is reported as skipped.
void BM_Md5Lanes(benchmark::State& state) {
  const auto level = static_cast<Md5Level>(state.range(0));
  state.SetLabel(Md5LevelName(level));
  if (Md5SupportedLevel(level) != level) {
    state.SkipWithError("not supported by this machine");
    return;
  }
  const Md5Kernel kernel = Md5KernelFor(level);
  const Messages& messages = TestMessages();
  std::vector<Md5Digest> digests(kMessageCount);
  for (auto _ : state) {
    Md5DigestMessages(kernel, messages.views, digests);
    benchmark::DoNotOptimize(digests.data());
  }
  CheckAndCount(state, digests);
}
BENCHMARK(BM_Md5Lanes)
    ->Arg(static_cast<int>(Md5Level::kPortable))
    ->Arg(static_cast<int>(Md5Level::kAvx2))
    ->Arg(static_cast<int>(Md5Level::kAvx512))
    ->Unit(benchmark::kMillisecond);

void BM_Md5OneMessage(benchmark::State& state) {
  const Messages& messages = TestMessages();
  std::vector<Md5Digest> digests(kMessageCount);
  for (auto _ : state) {
    for (size_t i = 0; i < kMessageCount; ++i)
      Md5Buffer(messages.views[i].data(), kMessageSize, digests[i].data());
    benchmark::DoNotOptimize(digests.data());
  }
  CheckAndCount(state, digests);
}
BENCHMARK(BM_Md5OneMessage)->Unit(benchmark::kMillisecond);

}  // namespace
