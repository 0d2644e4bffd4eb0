// Md5TransformAvx2: 8 lanes, one 32-bit lane of a YMM register per message. The build compiles
// this file alone with -mavx2; nothing here may be called before Md5DetectLevel allowed AVX2, and
// nothing of it may be shared with other files (see md5_steps.h).
#include "digest/md5_transforms.h"

#if TABULON_MD5_X86

#include <immintrin.h>

#include "digest/md5_steps.h"

namespace {

constexpr int kLanes = 8;

struct Avx2Ops {
  using Vec = __m256i;
  static Vec Add(Vec x, Vec y) { return _mm256_add_epi32(x, y); }
  static Vec Broadcast(std::uint32_t word) { return _mm256_set1_epi32(static_cast<int>(word)); }
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

// Turns rows[lane] (words 0-7 of one lane each) into words[k] (word k of every lane): unpacks
// and permutes, as gathers are slow on many processors.
void Transpose8x8(const __m256i rows[kLanes], __m256i words[kLanes]) {
  __m256i pairs[kLanes];
  for (int i = 0; i < kLanes; i += 2) {
    pairs[i] = _mm256_unpacklo_epi32(rows[i], rows[i + 1]);
    pairs[i + 1] = _mm256_unpackhi_epi32(rows[i], rows[i + 1]);
  }
  // quads[4g + w]: word w of lanes 4g..4g+3 in its low 128 bits, word 4 + w in its high ones.
  __m256i quads[kLanes];
  for (int g = 0; g < 2; ++g) {
    const __m256i* p = pairs + 4 * g;
    quads[4 * g + 0] = _mm256_unpacklo_epi64(p[0], p[2]);
    quads[4 * g + 1] = _mm256_unpackhi_epi64(p[0], p[2]);
    quads[4 * g + 2] = _mm256_unpacklo_epi64(p[1], p[3]);
    quads[4 * g + 3] = _mm256_unpackhi_epi64(p[1], p[3]);
  }
  for (int w = 0; w < 4; ++w) {
    words[w] = _mm256_permute2x128_si256(quads[w], quads[4 + w], 0x20);
    words[4 + w] = _mm256_permute2x128_si256(quads[w], quads[4 + w], 0x31);
  }
}

}  // namespace

void Md5TransformAvx2(Md5LaneWords& state, const unsigned char* const blocks[], size_t blockCount) {
  __m256i words[4];
  for (int w = 0; w < 4; ++w)
    words[w] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(state.words[w]));
  for (size_t offset = 0; offset < blockCount * kMd5BlockSize; offset += kMd5BlockSize) {
    __m256i x[16];
    for (int half = 0; half < 2; ++half) {
      __m256i rows[kLanes];
      for (int lane = 0; lane < kLanes; ++lane)
        rows[lane] =
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(blocks[lane] + offset + 32 * half));
      Transpose8x8(rows, x + 8 * half);
    }
    md5_steps::TransformBlock<Avx2Ops>(words, x);
  }
  for (int w = 0; w < 4; ++w)
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(state.words[w]), words[w]);
}

#endif
