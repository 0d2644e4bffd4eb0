// Fuzz target for the multibyte order of the file lists: on any byte strings it must be a strict
// weak order that is consistent with byte equality, or the ordered list would lose or misplace
// entries, and it must agree with the plain walk over both texts character by character, which
// the comparison shortens by starting at the first differing byte, and with the bytes' order for
// texts without 0xFF, by which the lists sort their keys.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/platform.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "multibyte order property broken: %s\n", what);
  std::abort();
}

// Character codes from the start: lead byte * 512 + second byte * 2 + 1 for a pair, a byte's
// value * 2 + 1 alone, a lead byte that ends the text * 512.
int WalkFromTheStart(const std::string& a, const std::string& b) {
  auto next = [](const std::string& s, size_t& at) {
    unsigned code = static_cast<unsigned char>(s[at++]);
    if (!platform::IsLeadByte(static_cast<unsigned char>(code))) return code * 2 + 1;
    if (at == s.size()) return code * 512;
    return code * 512 + static_cast<unsigned char>(s[at++]) * 2u + 1;
  };
  size_t i = 0;
  size_t j = 0;
  while (i < a.size() && j < b.size()) {
    unsigned codeA = next(a, i);
    unsigned codeB = next(b, j);
    if (codeA != codeB) return codeA < codeB ? -1 : 1;
  }
  return i < a.size() ? 1 : j < b.size() ? -1 : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string a = input.ConsumeRandomLengthString(64);
  const std::string b = input.ConsumeRandomLengthString(64);
  const std::string c = input.ConsumeRemainingBytesAsString();
  const std::string* texts[] = {&a, &b, &c};

  for (const std::string* x : texts) {
    if (platform::CompareMultibyte(*x, *x) != 0) Fail("irreflexive");
    for (const std::string* y : texts) {
      const int xy = platform::CompareMultibyte(*x, *y);
      if (xy < -1 || xy > 1) Fail("result is -1, 0 or 1");
      if (xy != -platform::CompareMultibyte(*y, *x)) Fail("antisymmetric");
      if ((xy == 0) != (*x == *y)) Fail("0 exactly for equal bytes");
      if (xy != WalkFromTheStart(*x, *y)) Fail("same as the walk from the start");
      const int bytes = x->compare(*y);
      if (platform::ComparesAsBytes(*x) && platform::ComparesAsBytes(*y) &&
          xy != (bytes < 0 ? -1 : bytes > 0 ? 1 : 0)) {
        Fail("same as the bytes where neither text holds 0xFF");
      }
      for (const std::string* z : texts) {
        const int yz = platform::CompareMultibyte(*y, *z);
        const int xz = platform::CompareMultibyte(*x, *z);
        if (xy < 0 && yz < 0 && xz >= 0) Fail("transitive");
      }
    }
  }
  return 0;
}
