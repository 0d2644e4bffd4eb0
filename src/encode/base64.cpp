#include "encode/base64.h"

namespace {

// RFC 4648, section 4, table 1.
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kPad = '=';

}  // namespace

int Base64Encode(const unsigned char* input, int count, char* output) {
  if (count < 0 || count >= kBase64RefusedCount) return 0;

  char* out = output;
  int i = 0;
  for (; count - i >= 3; i += 3) {
    const unsigned group =
        (unsigned{input[i]} << 16) | (unsigned{input[i + 1]} << 8) | input[i + 2];
    *out++ = kAlphabet[(group >> 18) & 0x3F];
    *out++ = kAlphabet[(group >> 12) & 0x3F];
    *out++ = kAlphabet[(group >> 6) & 0x3F];
    *out++ = kAlphabet[group & 0x3F];
  }
  // RFC 4648, section 4: a final group of one byte gives two characters and "==", of two bytes
  // three characters and "=".
  const int remaining = count - i;
  if (remaining > 0) {
    unsigned group = unsigned{input[i]} << 16;
    if (remaining == 2) group |= unsigned{input[i + 1]} << 8;
    *out++ = kAlphabet[(group >> 18) & 0x3F];
    *out++ = kAlphabet[(group >> 12) & 0x3F];
    *out++ = remaining == 2 ? kAlphabet[(group >> 6) & 0x3F] : kPad;
    *out++ = kPad;
  }
  *out = '\0';
  return static_cast<int>(out - output);
}
