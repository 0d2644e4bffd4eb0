// The multibyte rules of code page 936, the same on every system: lead bytes, the separator
// search, names equal but for case and the runtime's multibyte comparison.
#include <algorithm>

#include "platform/portable.h"

namespace platform {

bool IsLeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

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

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  for (size_t i = 0; i < a.size(); ++i) {
    if (IsLeadByte(static_cast<unsigned char>(a[i])) && i + 1 < a.size()) {
      // The second byte of a double-byte character can be a letter: it matches exactly.
      if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
      ++i;
    } else if (lower(a[i]) != lower(b[i])) {
      return false;
    }
  }
  return true;
}

int CompareMultibyte(std::string_view a, std::string_view b) {
  // Equal bytes are equal characters: start at the character that holds the first difference.
  // The lead-range bytes right before it pair up from their first one, since the byte before
  // them ends a character; an odd number of them makes the difference a second byte.
  size_t start = static_cast<size_t>(
      std::mismatch(a.begin(),
                    a.begin() + static_cast<std::ptrdiff_t>(std::min(a.size(), b.size())),
                    b.begin())
          .first -
      a.begin());
  size_t leads = 0;
  while (leads < start && IsLeadByte(static_cast<unsigned char>(a[start - leads - 1]))) ++leads;
  if (leads % 2 == 1) --start;
  size_t i = start;
  size_t j = start;
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

bool ComparesAsBytes(std::string_view text) { return text.find('\xFF') == std::string_view::npos; }

}  // namespace platform
