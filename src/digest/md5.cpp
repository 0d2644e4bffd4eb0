#include "digest/md5.h"

#include <bit>
#include <climits>
#include <cstring>

#include "digest/little_endian.h"

namespace {

// Step 1 (append padding bits): a single 1 bit, then zero bits.
constexpr unsigned char kPadding[kMd5BlockSize] = {0x80};

// Step 2 appends the message length as 8 bytes; padding brings the length to 56 mod 64 first.
constexpr int kLengthSize = 8;
constexpr int kPaddedRemainder = kMd5BlockSize - kLengthSize;

// Step 4: the auxiliary functions, in forms equivalent to the RFC's that need fewer operations.
// The newest chaining word is always `x`, so each form starts with what does not depend on it.
inline std::uint32_t F(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
  return z ^ (x & (y ^ z));
}
inline std::uint32_t H(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return x ^ (y ^ z); }
inline std::uint32_t I(std::uint32_t x, std::uint32_t y, std::uint32_t z) { return y ^ (x | ~z); }

// The four round operations [abcd k s i] of step 4: a = b + ((a + f(b,c,d) + X[k] + T[i]) <<< s).
// The message word and constant are added before f, whose input `b` arrives last.
inline void FF(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
               std::uint32_t word, std::uint32_t constant, int shift) {
  a += word + constant;
  a += F(b, c, d);
  a = std::rotl(a, shift) + b;
}
// G(x,y,z) = (x & z) | (y & ~z); the two terms share no bits, so they are added separately and
// (c & ~d) is ready before b is.
inline void GG(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
               std::uint32_t word, std::uint32_t constant, int shift) {
  a += word + constant;
  a += c & ~d;
  a += b & d;
  a = std::rotl(a, shift) + b;
}
inline void HH(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
               std::uint32_t word, std::uint32_t constant, int shift) {
  a += word + constant;
  a += H(b, c, d);
  a = std::rotl(a, shift) + b;
}
inline void II(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
               std::uint32_t word, std::uint32_t constant, int shift) {
  a += word + constant;
  a += I(b, c, d);
  a = std::rotl(a, shift) + b;
}

// Step 4 on `count` consecutive 64-byte blocks at `data`, which are read where they lie. The
// chaining words stay in locals from one block to the next.
void TransformBlocks(std::uint32_t state[4], const unsigned char* data, size_t count) {
  std::uint32_t a = state[0];
  std::uint32_t b = state[1];
  std::uint32_t c = state[2];
  std::uint32_t d = state[3];
  for (; count > 0; --count, data += kMd5BlockSize) {
    std::uint32_t x[16];
    for (int k = 0; k < 16; ++k) x[k] = LoadLittleEndian32(data + 4 * k);
    const std::uint32_t aa = a;
    const std::uint32_t bb = b;
    const std::uint32_t cc = c;
    const std::uint32_t dd = d;

    // Round 1.
    FF(a, b, c, d, x[0], 0xd76aa478, 7);
    FF(d, a, b, c, x[1], 0xe8c7b756, 12);
    FF(c, d, a, b, x[2], 0x242070db, 17);
    FF(b, c, d, a, x[3], 0xc1bdceee, 22);
    FF(a, b, c, d, x[4], 0xf57c0faf, 7);
    FF(d, a, b, c, x[5], 0x4787c62a, 12);
    FF(c, d, a, b, x[6], 0xa8304613, 17);
    FF(b, c, d, a, x[7], 0xfd469501, 22);
    FF(a, b, c, d, x[8], 0x698098d8, 7);
    FF(d, a, b, c, x[9], 0x8b44f7af, 12);
    FF(c, d, a, b, x[10], 0xffff5bb1, 17);
    FF(b, c, d, a, x[11], 0x895cd7be, 22);
    FF(a, b, c, d, x[12], 0x6b901122, 7);
    FF(d, a, b, c, x[13], 0xfd987193, 12);
    FF(c, d, a, b, x[14], 0xa679438e, 17);
    FF(b, c, d, a, x[15], 0x49b40821, 22);

    // Round 2.
    GG(a, b, c, d, x[1], 0xf61e2562, 5);
    GG(d, a, b, c, x[6], 0xc040b340, 9);
    GG(c, d, a, b, x[11], 0x265e5a51, 14);
    GG(b, c, d, a, x[0], 0xe9b6c7aa, 20);
    GG(a, b, c, d, x[5], 0xd62f105d, 5);
    GG(d, a, b, c, x[10], 0x02441453, 9);
    GG(c, d, a, b, x[15], 0xd8a1e681, 14);
    GG(b, c, d, a, x[4], 0xe7d3fbc8, 20);
    GG(a, b, c, d, x[9], 0x21e1cde6, 5);
    GG(d, a, b, c, x[14], 0xc33707d6, 9);
    GG(c, d, a, b, x[3], 0xf4d50d87, 14);
    GG(b, c, d, a, x[8], 0x455a14ed, 20);
    GG(a, b, c, d, x[13], 0xa9e3e905, 5);
    GG(d, a, b, c, x[2], 0xfcefa3f8, 9);
    GG(c, d, a, b, x[7], 0x676f02d9, 14);
    GG(b, c, d, a, x[12], 0x8d2a4c8a, 20);

    // Round 3.
    HH(a, b, c, d, x[5], 0xfffa3942, 4);
    HH(d, a, b, c, x[8], 0x8771f681, 11);
    HH(c, d, a, b, x[11], 0x6d9d6122, 16);
    HH(b, c, d, a, x[14], 0xfde5380c, 23);
    HH(a, b, c, d, x[1], 0xa4beea44, 4);
    HH(d, a, b, c, x[4], 0x4bdecfa9, 11);
    HH(c, d, a, b, x[7], 0xf6bb4b60, 16);
    HH(b, c, d, a, x[10], 0xbebfbc70, 23);
    HH(a, b, c, d, x[13], 0x289b7ec6, 4);
    HH(d, a, b, c, x[0], 0xeaa127fa, 11);
    HH(c, d, a, b, x[3], 0xd4ef3085, 16);
    HH(b, c, d, a, x[6], 0x04881d05, 23);
    HH(a, b, c, d, x[9], 0xd9d4d039, 4);
    HH(d, a, b, c, x[12], 0xe6db99e5, 11);
    HH(c, d, a, b, x[15], 0x1fa27cf8, 16);
    HH(b, c, d, a, x[2], 0xc4ac5665, 23);

    // Round 4.
    II(a, b, c, d, x[0], 0xf4292244, 6);
    II(d, a, b, c, x[7], 0x432aff97, 10);
    II(c, d, a, b, x[14], 0xab9423a7, 15);
    II(b, c, d, a, x[5], 0xfc93a039, 21);
    II(a, b, c, d, x[12], 0x655b59c3, 6);
    II(d, a, b, c, x[3], 0x8f0ccc92, 10);
    II(c, d, a, b, x[10], 0xffeff47d, 15);
    II(b, c, d, a, x[1], 0x85845dd1, 21);
    II(a, b, c, d, x[8], 0x6fa87e4f, 6);
    II(d, a, b, c, x[15], 0xfe2ce6e0, 10);
    II(c, d, a, b, x[6], 0xa3014314, 15);
    II(b, c, d, a, x[13], 0x4e0811a1, 21);
    II(a, b, c, d, x[4], 0xf7537e82, 6);
    II(d, a, b, c, x[11], 0xbd3af235, 10);
    II(c, d, a, b, x[2], 0x2ad7d2bb, 15);
    II(b, c, d, a, x[9], 0xeb86d391, 21);

    a += aa;
    b += bb;
    c += cc;
    d += dd;
  }
  state[0] = a;
  state[1] = b;
  state[2] = c;
  state[3] = d;
}

}  // namespace

void Md5Init(Md5Context& context) {
  // Step 3: initialize the MD buffer.
  context.bitCount[0] = 0;
  context.bitCount[1] = 0;
  context.state[0] = 0x67452301;
  context.state[1] = 0xefcdab89;
  context.state[2] = 0x98badcfe;
  context.state[3] = 0x10325476;
}

void Md5Append(Md5Context& context, const unsigned char* data, int length) {
  if (length <= 0) return;
  size_t remaining = static_cast<size_t>(length);
  const size_t held = (context.bitCount[0] >> 3) % kMd5BlockSize;

  // The bit count is kept modulo 2^64, which step 2 asks for: 8 * length in two words.
  const std::uint32_t lowBits = static_cast<std::uint32_t>(length) << 3;
  context.bitCount[0] += lowBits;
  if (context.bitCount[0] < lowBits) ++context.bitCount[1];
  context.bitCount[1] += static_cast<std::uint32_t>(length) >> 29;

  // Complete the held block first, if there is one.
  if (held > 0) {
    const size_t fill = kMd5BlockSize - held;
    if (remaining < fill) {
      std::memcpy(context.block + held, data, remaining);
      return;
    }
    std::memcpy(context.block + held, data, fill);
    TransformBlocks(context.state, context.block, 1);
    data += fill;
    remaining -= fill;
  }
  // Whole blocks are transformed where they lie; only the tail is kept.
  const size_t wholeBlocks = remaining / kMd5BlockSize;
  if (wholeBlocks > 0) {
    TransformBlocks(context.state, data, wholeBlocks);
    data += wholeBlocks * kMd5BlockSize;
    remaining -= wholeBlocks * kMd5BlockSize;
  }
  if (remaining > 0) std::memcpy(context.block, data, remaining);
}

void Md5Finish(Md5Context& context, unsigned char digest[kMd5DigestSize]) {
  // Step 2's length is the message's, so it is taken before the padding is appended.
  unsigned char lengthBytes[kLengthSize];
  StoreLittleEndian32(context.bitCount[0], lengthBytes);
  StoreLittleEndian32(context.bitCount[1], lengthBytes + 4);

  // Step 1: always at least one padding byte, at most a whole block.
  const int held = static_cast<int>((context.bitCount[0] >> 3) % kMd5BlockSize);
  const int paddingSize =
      held < kPaddedRemainder ? kPaddedRemainder - held : kMd5BlockSize + kPaddedRemainder - held;
  Md5Append(context, kPadding, paddingSize);
  Md5Append(context, lengthBytes, kLengthSize);

  // Step 5: the output is A, B, C, D, each low-order byte first.
  for (int i = 0; i < 4; ++i) StoreLittleEndian32(context.state[i], digest + 4 * i);
}

void Md5AppendBytes(Md5Context& context, const unsigned char* data, size_t size) {
  // Pieces of whole blocks: a context that holds no partial block copies nothing between them.
  constexpr size_t kMaxPiece = INT_MAX / kMd5BlockSize * kMd5BlockSize;
  while (size > 0) {
    const size_t piece = size < kMaxPiece ? size : kMaxPiece;
    Md5Append(context, data, static_cast<int>(piece));
    data += piece;
    size -= piece;
  }
}

void Md5Buffer(const void* data, size_t size, unsigned char digest[kMd5DigestSize]) {
  Md5Context context;
  Md5Init(context);
  Md5AppendBytes(context, static_cast<const unsigned char*>(data), size);
  Md5Finish(context, digest);
}
