// RFC 1321, step 4, for the transforms that digest several messages at once: the 64 operations
// as tables and one template that runs them over any vector of 32-bit lanes. Only the transform
// files md5_portable.cpp, md5_avx2.cpp and md5_avx512.cpp include it.
//
// The template must be instantiated only with types of an anonymous namespace: its instances then
// stay inside their file, so no instance compiled for wider instruction sets can stand in for one
// of the portable code at link time. Everything else here runs at compile time.
#pragma once

#include <cstdint>
#include <utility>

namespace md5_steps {

// T[i] = floor(2^32 * abs(sin(i + 1))), the constant of operation i.
inline constexpr std::uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

// The rotation s of each round, by the position of the operation within its group of four.
inline constexpr int kShift[4][4] = {
    {7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

// The message word X[k] that operation i adds: the orders of rounds 1 to 4.
constexpr int WordIndex(int i) {
  const int j = i % 16;
  switch (i / 16) {
    case 0:
      return j;
    case 1:
      return (1 + 5 * j) % 16;
    case 2:
      return (5 + 3 * j) % 16;
    default:
      return (7 * j) % 16;
  }
}

// Operation i as [abcd k s i]: a = b + ((a + f(b,c,d) + X[k] + T[i]) <<< s), where the word
// called a is A, D, C, B in turn. `Ops` gives the vector type `Vec` and Add, Broadcast,
// RotateLeft<s>, and AddFunction<round>(sum, b, c, d) = sum + f(b, c, d).
template <class Ops, int kOperation>
[[gnu::always_inline]] inline void Operation(typename Ops::Vec words[4],
                                             const typename Ops::Vec x[16]) {
  constexpr int kRound = kOperation / 16;
  constexpr int kA = (4 - kOperation % 4) % 4;
  constexpr int kB = (kA + 1) % 4;
  constexpr int kC = (kA + 2) % 4;
  constexpr int kD = (kA + 3) % 4;
  constexpr int kWord = WordIndex(kOperation);
  // The message word and constant come first: they do not wait for the newest word, b.
  auto sum = Ops::Add(words[kA], Ops::Add(x[kWord], Ops::Broadcast(kSine[kOperation])));
  sum = Ops::template AddFunction<kRound>(sum, words[kB], words[kC], words[kD]);
  words[kA] = Ops::Add(Ops::template RotateLeft<kShift[kRound][kOperation % 4]>(sum), words[kB]);
}

template <class Ops, int... kOperation>
[[gnu::always_inline]] inline void Operations(typename Ops::Vec words[4],
                                              const typename Ops::Vec x[16],
                                              std::integer_sequence<int, kOperation...>) {
  (Operation<Ops, kOperation>(words, x), ...);
}

// Step 4 on one block per lane: `words` holds A, B, C, D of every lane and becomes their value
// after the block whose words are `x` (x[k] holds word k of every lane's block).
template <class Ops>
[[gnu::always_inline]] inline void TransformBlock(typename Ops::Vec words[4],
                                                  const typename Ops::Vec x[16]) {
  const typename Ops::Vec start[4] = {words[0], words[1], words[2], words[3]};
  Operations<Ops>(words, x, std::make_integer_sequence<int, 64>());
  for (int i = 0; i < 4; ++i) words[i] = Ops::Add(words[i], start[i]);
}

}  // namespace md5_steps
