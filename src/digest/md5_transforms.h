// The block transforms behind Md5KernelFor, one per level, each of the type Md5Transform.
// Md5TransformAvx2 and Md5TransformAvx512 exist only on x86 and may run only where
// Md5DetectLevel allows their level. They keep no state: any thread may run them at once.
#pragma once

#include <cstddef>

#include "digest/md5_lanes.h"

#if defined(__x86_64__) || defined(__i386__)
#define TABULON_MD5_X86 1
#else
#define TABULON_MD5_X86 0
#endif

inline constexpr int kMd5PortableLanes = 8;

void Md5TransformPortable(Md5LaneWords& state, const unsigned char* const blocks[],
                          size_t blockCount);

#if TABULON_MD5_X86
void Md5TransformAvx2(Md5LaneWords& state, const unsigned char* const blocks[], size_t blockCount);
void Md5TransformAvx512(Md5LaneWords& state, const unsigned char* const blocks[],
                        size_t blockCount);
#endif

// Md5TransformAvx512's code on emulated AVX-512 instructions, so that it can be checked on any
// machine. Only the tests build it (md5_avx512.cpp with TABULON_MD5_AVX512_EMULATED).
void Md5TransformAvx512Emulated(Md5LaneWords& state, const unsigned char* const blocks[],
                                size_t blockCount);
