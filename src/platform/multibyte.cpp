// The multibyte text rules of the ANSI code page, the same on every system: they rest only on
// IsLeadByte, which each system's platform file provides.
#include "platform/platform.h"

namespace platform {

size_t FindLastSeparator(std::string_view path) {
  size_t found = std::string_view::npos;
  for (size_t i = 0; i < path.size(); ++i) {
    if (IsLeadByte(static_cast<unsigned char>(path[i]))) {
      ++i;
    } else if (path[i] == kPathSeparator) {
      found = i;
    }
  }
  return found;
}

int CompareMultibyte(std::string_view a, std::string_view b) {
  size_t i = 0;
  size_t j = 0;
  // A character's code: lead byte * 256 + second byte, or the byte's value. The codes are
  // doubled so that a lead byte that ends the text (which the runtime pairs with the terminator)
  // sorts just before the same lead byte paired with a NUL: the order stays consistent with
  // byte equality for any bytes.
  auto next = [](std::string_view s, size_t& at) {
    unsigned code = static_cast<unsigned char>(s[at++]);
    if (!IsLeadByte(static_cast<unsigned char>(code))) return code * 2 + 1;
    code <<= 8;
    if (at == s.size()) return code * 2;
    code |= static_cast<unsigned char>(s[at++]);
    return code * 2 + 1;
  };
  while (i < a.size() && j < b.size()) {
    unsigned codeA = next(a, i);
    unsigned codeB = next(b, j);
    if (codeA != codeB) return codeA < codeB ? -1 : 1;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

}  // namespace platform
