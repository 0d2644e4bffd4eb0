// Md5TransformAvx2: 8 lanes, one 32-bit lane of a YMM register per message. The build compiles
// this file alone with -mavx2; nothing here may be called before Md5DetectLevel allowed AVX2, and
// nothing of it may be shared with other files (see md5_steps.h).
#include "digest/md5_transforms.h"

#if TABULON_MD5_X86

#include <immintrin.h>

#include "digest/md5_steps.h"

namespace {

struct Avx2Ops {
  using Vec = __m256i;
  static Vec Add(Vec x, Vec y) { return _mm256_add_epi32(x, y); }
  // From memory, one instruction; GCC builds a constant set1 in three.
  static Vec Broadcast(std::uint32_t word) {
    return _mm256_broadcastd_epi32(_mm_loadu_si32(&word));
  }
  template <int kShift>
  static Vec RotateLeft(Vec x) {
    return _mm256_or_si256(_mm256_slli_epi32(x, kShift), _mm256_srli_epi32(x, 32 - kShift));
  }
  template <int kRound>
  static Vec AddFunction(Vec sum, Vec b, Vec c, Vec d) {
    if constexpr (kRound == 0) {
      return Add(sum, _mm256_xor_si256(d, _mm256_and_si256(b, _mm256_xor_si256(c, d))));
    } else if constexpr (kRound == 1) {
      // (b & d) | (c & ~d): the terms share no bit, so each is added, and c & ~d needs no b.
      return Add(Add(sum, _mm256_andnot_si256(d, c)), _mm256_and_si256(b, d));
    } else if constexpr (kRound == 2) {
      return Add(sum, _mm256_xor_si256(b, _mm256_xor_si256(c, d)));
    } else {
      const Vec notD = _mm256_xor_si256(d, _mm256_set1_epi32(-1));
      return Add(sum, _mm256_xor_si256(c, _mm256_or_si256(b, notD)));
    }
  }
};

// x[k]: word k of the block at blocks[lane] + offset, for every lane. The same 16 bytes of lanes i
// and i + 4 share a register, so unpacks within its halves suffice, with no permute across them
// (as fast here as transposing whole rows, which needs them). Gathers took nearly twice as long
// on this project's AMD machines.
void LoadBlock(const unsigned char* const blocks[], size_t offset, __m256i x[16]) {
  for (int q = 0; q < 4; ++q) {
    __m256i rows[4];
    for (int i = 0; i < 4; ++i) {
      const auto* low = reinterpret_cast<const __m128i*>(blocks[i] + offset + 16 * q);
      const auto* high = reinterpret_cast<const __m128i*>(blocks[i + 4] + offset + 16 * q);
      rows[i] = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(low)),
                                        _mm_loadu_si128(high), 1);
    }
    const __m256i pairs01Low = _mm256_unpacklo_epi32(rows[0], rows[1]);
    const __m256i pairs01High = _mm256_unpackhi_epi32(rows[0], rows[1]);
    const __m256i pairs23Low = _mm256_unpacklo_epi32(rows[2], rows[3]);
    const __m256i pairs23High = _mm256_unpackhi_epi32(rows[2], rows[3]);
    x[4 * q + 0] = _mm256_unpacklo_epi64(pairs01Low, pairs23Low);
    x[4 * q + 1] = _mm256_unpackhi_epi64(pairs01Low, pairs23Low);
    x[4 * q + 2] = _mm256_unpacklo_epi64(pairs01High, pairs23High);
    x[4 * q + 3] = _mm256_unpackhi_epi64(pairs01High, pairs23High);
  }
}

}  // namespace

void Md5TransformAvx2(Md5LaneWords& state, const unsigned char* const blocks[], size_t blockCount) {
  __m256i words[4];
  for (int w = 0; w < 4; ++w)
    words[w] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(state.words[w]));
  for (size_t offset = 0; offset < blockCount * kMd5BlockSize; offset += kMd5BlockSize) {
    __m256i x[16];
    LoadBlock(blocks, offset, x);
    md5_steps::TransformBlock<Avx2Ops>(words, x);
  }
  for (int w = 0; w < 4; ++w)
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(state.words[w]), words[w]);
}

#endif
