// Fuzz target for the multibyte order of the file lists: on any byte strings it must be a strict
// weak order that is consistent with byte equality, or the ordered list would lose or misplace
// entries.
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
      for (const std::string* z : texts) {
        const int yz = platform::CompareMultibyte(*y, *z);
        const int xz = platform::CompareMultibyte(*x, *z);
        if (xy < 0 && yz < 0 && xz >= 0) Fail("transitive");
      }
    }
  }
  return 0;
}
