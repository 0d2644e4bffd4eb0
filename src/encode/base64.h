// Base64 text of a run of bytes, with the standard alphabet and padding of RFC 4648, section 4.
// Threads: may run on several threads at once.
#pragma once

// The encoder writes into areas of at most this many bytes; it refuses a count whose estimate
// (4 * count) / 3 + 1 exceeds it, which is every count from kBase64RefusedCount on.
inline constexpr int kBase64OutputLimit = 1024;
inline constexpr int kBase64RefusedCount = 768;
static_assert((4 * (kBase64RefusedCount - 1)) / 3 + 1 <= kBase64OutputLimit &&
              (4 * kBase64RefusedCount) / 3 + 1 > kBase64OutputLimit);

// Number of characters, before the NUL, of the Base64 text of `count` bytes (0 <= count <
// kBase64RefusedCount): 4 * ceil(count / 3).
constexpr int Base64EncodedLength(int count) { return (count + 2) / 3 * 4; }

// Encodes exactly `count` bytes of `input` (taken as unsigned 8-bit values; NUL bytes are data,
// no terminator is needed) as one line of Base64 text without line breaks into `output`, and
// ends it with a NUL. `output` must hold Base64EncodedLength(count) + 1 bytes (1025 for the
// largest accepted count, 767). Returns the number of characters written before the NUL; 0 for
// a count of 0, when only the NUL is written. Refuses a negative count and every count of
// kBase64RefusedCount or more: returns 0 and writes nothing at all, not even the NUL.
int Base64Encode(const unsigned char* input, int count, char* output);
