// Md5TransformAvx512: 16 lanes, one 32-bit lane of a ZMM register per message. The build compiles
// this file alone with -mavx512f; nothing here may be called before Md5DetectLevel allowed
// AVX-512, and nothing of it may be shared with other files (see md5_steps.h).
//
// The tests build it a second time with TABULON_MD5_AVX512_EMULATED, as
// Md5TransformAvx512Emulated on instructions that a header library emulates, so that its logic is
// checked on machines without AVX-512.
#include "digest/md5_transforms.h"

#if TABULON_MD5_AVX512_EMULATED
#define SIMDE_ENABLE_NATIVE_ALIASES
#include <simde/x86/avx512.h>
#define TABULON_MD5_AVX512_TRANSFORM Md5TransformAvx512Emulated
#elif TABULON_MD5_X86
#include <immintrin.h>
#define TABULON_MD5_AVX512_TRANSFORM Md5TransformAvx512
#endif

#ifdef TABULON_MD5_AVX512_TRANSFORM

#include "digest/md5_steps.h"

namespace {

constexpr int kLanes = 16;

struct Avx512Ops {
  using Vec = __m512i;
  static Vec Add(Vec x, Vec y) { return _mm512_add_epi32(x, y); }
  // From memory, one instruction, as in md5_avx2.cpp.
  static Vec Broadcast(std::uint32_t word) {
    return _mm512_broadcastd_epi32(_mm_loadu_si32(&word));
  }
  template <int kShift>
  static Vec RotateLeft(Vec x) {
    return _mm512_rol_epi32(x, kShift);
  }
  // The truth tables of F, G, H and I over (b, c, d) = (0xf0, 0xcc, 0xaa).
  template <int kRound>
  static Vec AddFunction(Vec sum, Vec b, Vec c, Vec d) {
    constexpr int kTable[4] = {0xca, 0xe4, 0x96, 0x39};
    return Add(sum, _mm512_ternarylogic_epi32(b, c, d, kTable[kRound]));
  }
};

// x[k]: word k of the block at blocks[lane] + offset, for every lane: the 16 x 16 words turned
// with unpacks and 128-bit shuffles, as gathers are slow on many processors.
void LoadBlock(const unsigned char* const blocks[], size_t offset, __m512i x[16]) {
  __m512i pairs[kLanes];
  for (int i = 0; i < kLanes; i += 2) {
    const __m512i even = _mm512_loadu_si512(blocks[i] + offset);
    const __m512i odd = _mm512_loadu_si512(blocks[i + 1] + offset);
    pairs[i] = _mm512_unpacklo_epi32(even, odd);
    pairs[i + 1] = _mm512_unpackhi_epi32(even, odd);
  }
  // quads[4g + w]: in its 128-bit part q, word 4q + w of lanes 4g to 4g + 3.
  __m512i quads[kLanes];
  for (int g = 0; g < 4; ++g) {
    const __m512i* p = pairs + 4 * g;
    quads[4 * g + 0] = _mm512_unpacklo_epi64(p[0], p[2]);
    quads[4 * g + 1] = _mm512_unpackhi_epi64(p[0], p[2]);
    quads[4 * g + 2] = _mm512_unpacklo_epi64(p[1], p[3]);
    quads[4 * g + 3] = _mm512_unpackhi_epi64(p[1], p[3]);
  }
  // For each w, the 4 x 4 parts of quads[w], quads[4 + w], ... are transposed in two rounds.
  for (int w = 0; w < 4; ++w) {
    const __m512i low01 = _mm512_shuffle_i32x4(quads[w], quads[4 + w], 0x44);
    const __m512i high01 = _mm512_shuffle_i32x4(quads[w], quads[4 + w], 0xee);
    const __m512i low23 = _mm512_shuffle_i32x4(quads[8 + w], quads[12 + w], 0x44);
    const __m512i high23 = _mm512_shuffle_i32x4(quads[8 + w], quads[12 + w], 0xee);
    x[w] = _mm512_shuffle_i32x4(low01, low23, 0x88);
    x[4 + w] = _mm512_shuffle_i32x4(low01, low23, 0xdd);
    x[8 + w] = _mm512_shuffle_i32x4(high01, high23, 0x88);
    x[12 + w] = _mm512_shuffle_i32x4(high01, high23, 0xdd);
  }
}

}  // namespace

void TABULON_MD5_AVX512_TRANSFORM(Md5LaneWords& state, const unsigned char* const blocks[],
                                  size_t blockCount) {
  __m512i words[4];
  for (int w = 0; w < 4; ++w) words[w] = _mm512_loadu_si512(state.words[w]);
  for (size_t offset = 0; offset < blockCount * kMd5BlockSize; offset += kMd5BlockSize) {
    __m512i x[16];
    LoadBlock(blocks, offset, x);
    md5_steps::TransformBlock<Avx512Ops>(words, x);
  }
  for (int w = 0; w < 4; ++w) _mm512_storeu_si512(state.words[w], words[w]);
}

#endif
