// Md5TransformPortable: kMd5PortableLanes lanes in plain C++, for any processor.
#include <bit>
#include <cstring>

#include "digest/little_endian.h"
#include "digest/md5_steps.h"
#include "digest/md5_transforms.h"

namespace {

// kMd5PortableLanes words, one per lane, in plain C++: the lanes are independent, so their
// operations overlap in the processor, and the compiler may put them into vector registers. Each
// operation is forced inline: the transform is too large for the compiler to inline them itself.
struct PortableOps {
  struct Vec {
    std::uint32_t lane[kMd5PortableLanes];
  };
  [[gnu::always_inline]] static Vec Add(Vec x, Vec y) {
    for (int i = 0; i < kMd5PortableLanes; ++i) x.lane[i] += y.lane[i];
    return x;
  }
  [[gnu::always_inline]] static Vec Broadcast(std::uint32_t word) {
    Vec result;
    for (std::uint32_t& lane : result.lane) lane = word;
    return result;
  }
  template <int kShift>
  [[gnu::always_inline]] static Vec RotateLeft(Vec x) {
    for (std::uint32_t& lane : x.lane) lane = std::rotl(lane, kShift);
    return x;
  }
  // The forms of md5.cpp, which need fewer operations than the RFC's.
  template <int kRound>
  [[gnu::always_inline]] static Vec AddFunction(Vec sum, Vec b, Vec c, Vec d) {
    for (int i = 0; i < kMd5PortableLanes; ++i) {
      const std::uint32_t x = b.lane[i];
      const std::uint32_t y = c.lane[i];
      const std::uint32_t z = d.lane[i];
      if constexpr (kRound == 0) sum.lane[i] += z ^ (x & (y ^ z));
      if constexpr (kRound == 1) sum.lane[i] += (y & ~z) + (x & z);
      if constexpr (kRound == 2) sum.lane[i] += x ^ y ^ z;
      if constexpr (kRound == 3) sum.lane[i] += y ^ (x | ~z);
    }
    return sum;
  }
};

}  // namespace

void Md5TransformPortable(Md5LaneWords& state, const unsigned char* const blocks[],
                          size_t blockCount) {
  using Vec = PortableOps::Vec;
  Vec words[4];
  for (int w = 0; w < 4; ++w) std::memcpy(words[w].lane, state.words[w], sizeof words[w].lane);
  for (size_t n = 0; n < blockCount; ++n) {
    Vec x[16];
    for (int lane = 0; lane < kMd5PortableLanes; ++lane) {
      const unsigned char* block = blocks[lane] + n * kMd5BlockSize;
      for (int k = 0; k < 16; ++k) x[k].lane[lane] = LoadLittleEndian32(block + 4 * k);
    }
    md5_steps::TransformBlock<PortableOps>(words, x);
  }
  for (int w = 0; w < 4; ++w) std::memcpy(state.words[w], words[w].lane, sizeof words[w].lane);
}
