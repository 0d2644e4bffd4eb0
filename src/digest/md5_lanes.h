// MD5 of several messages at once: one message per lane of a vector unit (AVX2: 8 lanes,
// AVX-512: 16), each digest the same as Md5Buffer's. Two layers here:
//
// - Md5KernelFor picks the block transform of a level, never one the machine cannot run;
// - Md5AppendBlocks appends whole blocks to one context per lane.
//
// md5_lane_driver.h keeps the lanes busy over many messages.
//
// Threads: every function may run on several threads at once. None keeps state between calls
// but the detected level, which is found once, at the first call that needs it, in a thread-safe
// way. Contexts and outputs passed in belong to the caller: one thread each at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "digest/md5.h"

// The instruction sets the transform can use, from the narrowest.
enum class Md5Level { kPortable, kAvx2, kAvx512 };

inline constexpr int kMd5MaxLanes = 16;

using Md5Digest = std::array<unsigned char, kMd5DigestSize>;

// What the processor says through CPUID and what the operating system saves on a task switch
// (XCR0, read with XGETBV only where CPUID says the system enabled it, else 0): all that decides
// the level.
struct Md5CpuReport {
  unsigned highestLeaf;  // CPUID.0:EAX
  unsigned leaf1Ecx;     // CPUID.1:ECX
  unsigned leaf7Ebx;     // CPUID.(7,0):EBX; meaningless when highestLeaf is below 7
  std::uint64_t xcr0;
};

// The best level that the report allows: a vector level needs the processor's instructions and
// the system's saving of their registers, whose contents a task switch would otherwise lose.
Md5Level Md5LevelFor(const Md5CpuReport& report);

// Md5LevelFor this machine: found at the first call, then kept. kPortable on a processor that is
// not x86.
Md5Level Md5DetectLevel();

// `requested` if the machine supports it, else the best level it does support.
Md5Level Md5SupportedLevel(Md5Level requested);

// The number of messages the level's transform digests at once: 8, or 16 for AVX-512.
int Md5LaneCount(Md5Level level);

// "portable", "avx2" or "avx512".
const char* Md5LevelName(Md5Level level);

// The chaining words of the lanes, word by word: words[0][lane] is that lane's A.
struct Md5LaneWords {
  std::uint32_t words[4][kMd5MaxLanes];
};

// Runs step 4 of RFC 1321 on `blockCount` blocks for each of the transform's lanes: lane i reads
// the consecutive 64-byte blocks at blocks[i], and its chaining words in `state` go from their
// value before the first block to their value after the last. Every lane reads its blocks.
using Md5Transform = void (*)(Md5LaneWords& state, const unsigned char* const blocks[],
                              size_t blockCount);

struct Md5Kernel {
  Md5Level level;
  int laneCount;
  Md5Transform transform;
};

// The transform of Md5SupportedLevel(requested): the only way to a kernel, so a level that the
// machine lacks is never run.
Md5Kernel Md5KernelFor(Md5Level requested);

// Appends `blockCount` whole blocks to each context, as Md5Append would: contexts[i] gets the
// blocks at blocks[i], which may lie anywhere. Each context must hold no partial block (its
// length is a multiple of 64 bytes). Best with kernel.laneCount contexts; more take turns.
void Md5AppendBlocks(const Md5Kernel& kernel, std::span<Md5Context* const> contexts,
                     std::span<const unsigned char* const> blocks, size_t blockCount);
