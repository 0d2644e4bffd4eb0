// MD5 of several messages at once: one message per lane of a vector unit (AVX2: 8 lanes,
// AVX-512: 16), each digest the same as Md5Buffer's. Three layers:
//
// - Md5KernelFor picks the block transform of a level, never one the machine cannot run;
// - Md5AppendBlocks appends whole blocks to one context per lane;
// - Md5Lane and Md5StepLanes keep the lanes of a driver busy; md5_lane_driver.h is one.
//
// Threads: every function may run on several threads at once. None keeps state between calls
// but the detected level, which is found once, at the first call that needs it, in a thread-safe
// way. Contexts, lanes and outputs passed in belong to the caller: one thread each at a time.
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

// One message in a driver's lanes: its context and those of its bytes that are ready.
struct Md5Lane {
  Md5Context context;
  // The next `available` bytes of the message, not yet appended.
  const unsigned char* data;
  size_t available;
  // Whether the lane holds a message; Md5StepLanes leaves an inactive lane alone.
  bool active;
};

// Starts the message whose first `available` bytes are at `data` in `lane`.
void Md5StartLane(Md5Lane& lane, const unsigned char* data, size_t available);

// Appends every available byte of the lane's message, writes its digest into `digest` and
// leaves the lane inactive.
void Md5FinishLane(Md5Lane& lane, unsigned char digest[kMd5DigestSize]);

// Appends to every active lane the largest number of whole blocks that each of them has
// available, advancing `data` and lowering `available` by as many bytes, and returns that
// number: 0 when a lane has less than a block or no lane is active. At most kMd5MaxLanes lanes,
// best kernel.laneCount, whose contexts hold no partial block (Md5StartLane leaves none, nor does
// a step).
//
// Between two steps, a driver looks at each active lane with less than a block available:
// - if its message goes on, it makes more bytes available. The bytes still available are not
//   appended yet and must stay in front of the new ones (move them to the start of the lane's
//   buffer and read behind them);
// - if its message ended, Md5FinishLane gives its digest, and Md5StartLane may refill the lane
//   with the next message at once.
// Once a single lane is active, plain Md5Append and Md5Finish on its context are as fast.
size_t Md5StepLanes(const Md5Kernel& kernel, std::span<Md5Lane> lanes);
