// The MD5 message digest of RFC 1321, as a streaming context with three operations.
// Every digest equals that of any conforming MD5 implementation, on hosts of either byte order.
//
// Threads: every function may run on several threads at once, each on a context of its own.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr int kMd5DigestSize = 16;
inline constexpr int kMd5BlockSize = 64;

// Plain and trivially copyable; the caller owns it, nothing is allocated.
struct Md5Context {
  // Length of the message appended so far in bits, modulo 2^64; low word first.
  std::uint32_t bitCount[2];
  // The chaining words A, B, C, D.
  std::uint32_t state[4];
  // The bytes of the current, incomplete block: (bitCount[0] / 8) % 64 of them, at its start.
  unsigned char block[kMd5BlockSize];
};

// Starts a new message: zero length and the initial chaining words.
void Md5Init(Md5Context& context);

// Appends `length` bytes from `data` to the message. A length of 0 or less appends nothing and
// leaves the context untouched (`data` is then not read and may be null).
void Md5Append(Md5Context& context, const unsigned char* data, int length);

// Appends `size` bytes, any number: Md5Append takes at most INT_MAX at a time.
void Md5AppendBytes(Md5Context& context, const unsigned char* data, size_t size);

// Completes the message with the padding and the length and writes its 16-byte digest (the
// chaining words A to D, each least significant byte first) into `digest`. The context is spent
// afterwards: run Md5Init before using it again.
void Md5Finish(Md5Context& context, unsigned char digest[kMd5DigestSize]);

// The digest of `size` bytes at `data` in one call.
void Md5Buffer(const void* data, size_t size, unsigned char digest[kMd5DigestSize]);
