#include "digest/md5_lanes.h"

#include <algorithm>

#include "digest/md5_transforms.h"

#if TABULON_MD5_X86
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace {

// The bits of the report that decide the level.
constexpr unsigned kOsxsave = 1u << 27;    // CPUID.1:ECX: the system enabled XGETBV
constexpr unsigned kAvx = 1u << 28;        // CPUID.1:ECX
constexpr unsigned kAvx2 = 1u << 5;        // CPUID.7.0:EBX
constexpr unsigned kAvx512f = 1u << 16;    // CPUID.7.0:EBX
constexpr std::uint64_t kYmmState = 0x06;  // XCR0: XMM and the upper halves of YMM
constexpr std::uint64_t kZmmState = 0xe0;  // XCR0: opmask and both parts of ZMM

#if TABULON_MD5_X86
// Only this function may use XGETBV, and it runs only once CPUID has said the system enabled it.
__attribute__((target("xsave"))) std::uint64_t ReadXcr0() { return _xgetbv(0); }

Md5CpuReport ReadCpuReport() {
  Md5CpuReport report{};
  unsigned eax, ebx, ecx, edx;
  report.highestLeaf = __get_cpuid_max(0, nullptr);
  if (report.highestLeaf >= 1 && __get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0) {
    report.leaf1Ecx = ecx;
  }
  if (report.highestLeaf >= 7 && __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) != 0) {
    report.leaf7Ebx = ebx;
  }
  if ((report.leaf1Ecx & kOsxsave) != 0) report.xcr0 = ReadXcr0();
  return report;
}
#else
Md5CpuReport ReadCpuReport() { return {}; }
#endif

}  // namespace

Md5Level Md5LevelFor(const Md5CpuReport& report) {
  const auto has = [](std::uint64_t bits, std::uint64_t wanted) {
    return (bits & wanted) == wanted;
  };
  if (report.highestLeaf < 7 || !has(report.leaf1Ecx, kOsxsave | kAvx) ||
      !has(report.leaf7Ebx, kAvx2) || !has(report.xcr0, kYmmState)) {
    return Md5Level::kPortable;
  }
  if (!has(report.leaf7Ebx, kAvx512f) || !has(report.xcr0, kZmmState)) return Md5Level::kAvx2;
  return Md5Level::kAvx512;
}

Md5Level Md5DetectLevel() {
  // A function-local static is initialised once, even when threads race to it.
  static const Md5Level detected = Md5LevelFor(ReadCpuReport());
  return detected;
}

Md5Level Md5SupportedLevel(Md5Level requested) { return std::min(requested, Md5DetectLevel()); }

int Md5LaneCount(Md5Level level) {
  switch (level) {
    case Md5Level::kAvx2:
      return 8;
    case Md5Level::kAvx512:
      return 16;
    default:
      return kMd5PortableLanes;
  }
}

const char* Md5LevelName(Md5Level level) {
  switch (level) {
    case Md5Level::kAvx2:
      return "avx2";
    case Md5Level::kAvx512:
      return "avx512";
    default:
      return "portable";
  }
}

Md5Kernel Md5KernelFor(Md5Level requested) {
  const Md5Level level = Md5SupportedLevel(requested);
  Md5Transform transform = Md5TransformPortable;
#if TABULON_MD5_X86
  if (level == Md5Level::kAvx2) transform = Md5TransformAvx2;
  if (level == Md5Level::kAvx512) transform = Md5TransformAvx512;
#endif
  return {level, Md5LaneCount(level), transform};
}

void Md5AppendBlocks(const Md5Kernel& kernel, std::span<Md5Context* const> contexts,
                     std::span<const unsigned char* const> blocks, size_t blockCount) {
  if (blockCount == 0) return;
  const size_t width = static_cast<size_t>(kernel.laneCount);
  for (size_t first = 0; first < contexts.size(); first += width) {
    const size_t used = std::min(width, contexts.size() - first);
    Md5LaneWords state{};
    const unsigned char* laneBlocks[kMd5MaxLanes];
    for (size_t lane = 0; lane < width; ++lane) {
      // Idle lanes digest the group's first blocks again, which are there to be read, and their
      // result is dropped.
      const size_t from = first + (lane < used ? lane : 0);
      for (int w = 0; w < 4; ++w) state.words[w][lane] = contexts[from]->state[w];
      laneBlocks[lane] = blocks[from];
    }
    kernel.transform(state, laneBlocks, blockCount);

    // The bit count is kept modulo 2^64, as step 2 of RFC 1321 asks.
    const std::uint64_t addedBits = static_cast<std::uint64_t>(blockCount) * kMd5BlockSize * 8;
    for (size_t lane = 0; lane < used; ++lane) {
      Md5Context& context = *contexts[first + lane];
      for (int w = 0; w < 4; ++w) context.state[w] = state.words[w][lane];
      const std::uint64_t bits =
          (std::uint64_t{context.bitCount[1]} << 32 | context.bitCount[0]) + addedBits;
      context.bitCount[0] = static_cast<std::uint32_t>(bits);
      context.bitCount[1] = static_cast<std::uint32_t>(bits >> 32);
    }
  }
}
