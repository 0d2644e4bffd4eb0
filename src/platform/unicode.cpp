// UTF-8 decoding and the conversions between UTF-16 and the ANSI code page (over the UTF-8
// ones of each system's platform file), the same on every system.
#include <algorithm>

#include "platform/portable.h"

namespace platform {

namespace {

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void AppendUtf8(char32_t code, std::string& utf8) {
  if (code < 0x80) {
    utf8.push_back(static_cast<char>(code));
    return;
  }
  size_t length = code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
  static constexpr unsigned char kLeadMarks[] = {0, 0, 0xC0, 0xE0, 0xF0};
  char bytes[4];
  for (size_t i = length - 1; i > 0; --i) {
    bytes[i] = static_cast<char>(0x80 | (code & 0x3F));
    code >>= 6;
  }
  bytes[0] = static_cast<char>(kLeadMarks[length] | code);
  utf8.append(bytes, length);
}

}  // namespace

size_t Utf8SequenceLength(std::string_view text) {
  auto lead = static_cast<unsigned char>(text[0]);
  size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (length == 0 || length > text.size()) return 1;
  for (size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return 1;
  }
  return length;
}

bool DecodeUtf8Sequence(std::string_view sequence, char32_t& code) {
  auto lead = static_cast<unsigned char>(sequence[0]);
  size_t length = sequence.size();
  if (length == 1) {
    code = lead;
    return lead < 0x80;
  }
  code = lead & (0x3F >> (length - 1));
  for (size_t i = 1; i < length; ++i) {
    code = (code << 6) | (static_cast<unsigned char>(sequence[i]) & 0x3F);
  }
  char32_t smallest = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
  return code >= smallest && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
}

void AppendUtf16(char32_t code, std::u16string& units) {
  if (code >= 0x10000) {
    code -= 0x10000;
    units.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
    units.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
  } else {
    units.push_back(static_cast<char16_t>(code));
  }
}

std::u16string Utf8ToUtf16Lossy(std::string_view utf8) {
  std::u16string units;
  units.reserve(utf8.size());
  while (!utf8.empty()) {
    size_t length = Utf8SequenceLength(utf8);
    char32_t code = 0;
    if (DecodeUtf8Sequence(utf8.substr(0, length), code)) {
      AppendUtf16(code, units);
    } else {
      units.push_back(u'\uFFFD');
      length = 1;
    }
    utf8.remove_prefix(length);
  }
  return units;
}

std::u16string AnsiToUtf16(std::string_view ansi) {
  // Most INI lines are ASCII, which reads the same in every one of these encodings.
  if (std::all_of(ansi.begin(), ansi.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    return std::u16string(ansi.begin(), ansi.end());
  }
  // AnsiToUtf8 gives valid UTF-8 only ('?' for what it cannot convert), so nothing is lost here.
  return Utf8ToUtf16Lossy(AnsiToUtf8(ansi));
}

std::string Utf16ToAnsi(std::u16string_view units) {
  std::string utf8;
  utf8.reserve(units.size());
  bool ascii = true;
  for (size_t i = 0; i < units.size(); ++i) {
    char32_t code = units[i];
    if (IsHighSurrogate(units[i]) && i + 1 < units.size() && IsLowSurrogate(units[i + 1])) {
      code = 0x10000 + ((code - 0xD800) << 10) + (units[++i] - 0xDC00);
    } else if (IsHighSurrogate(units[i]) || IsLowSurrogate(units[i])) {
      code = '?';
    }
    ascii = ascii && code < 0x80;
    AppendUtf8(code, utf8);
  }
  return ascii ? utf8 : Utf8ToAnsi(utf8);
}

std::string Utf16LittleEndianToAnsi(std::string_view bytes) {
  std::u16string units(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                     static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
  }
  return Utf16ToAnsi(units);
}

}  // namespace platform
