// The parts of the platform layer that are the same on every system: the multibyte rules of
// code page 936, UTF-8 decoding, the UTF-16 conversions (over the UTF-8 ones), the order of a
// listing, the ownership of an InputFile, reading a whole file and the formatting of console
// texts.
#include "platform/portable.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <utility>

namespace platform {

bool IsLeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

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

InputFile::InputFile(InputFile&& other) noexcept { *this = std::move(other); }

InputFile& InputFile::operator=(InputFile&& other) noexcept {
  if (this != &other) {
    if (IsOpen()) Close(m_Handle);
    m_Handle = std::exchange(other.m_Handle, kNotOpen);
    m_SizeAtOpen = other.m_SizeAtOpen;
    m_Offset = other.m_Offset;
    m_AtEnd = other.m_AtEnd;
  }
  return *this;
}

InputFile::~InputFile() {
  if (IsOpen()) Close(m_Handle);
}

ReadResult ReadWholeFile(const std::string& path, std::string& content) {
  content.clear();
  bool missing = false;
  InputFile file = InputFile::Open(path, &missing);
  if (!file.IsOpen()) return missing ? ReadResult::kMissing : ReadResult::kUnopenable;
  content.reserve(static_cast<size_t>(file.SizeAtOpen()));
  char buffer[64 * 1024];
  for (;;) {
    std::int64_t got = file.Read(buffer, sizeof buffer);
    if (got < 0) {
      content.clear();
      return ReadResult::kFailed;
    }
    if (got == 0) return ReadResult::kOk;
    content.append(buffer, static_cast<size_t>(got));
  }
}

void SortInNtfsOrder(std::vector<ListedName>& names) {
  std::sort(names.begin(), names.end(), [](const ListedName& a, const ListedName& b) {
    if (a.upper != b.upper) return a.upper < b.upper;
    if (a.units != b.units) return a.units < b.units;
    return a.native < b.native;
  });
}

namespace {

std::atomic<bool> g_ConsoleWriteFailed{false};

}  // namespace

bool PrintText(const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  std::va_list again;
  va_copy(again, arguments);
  int length = std::vsnprintf(nullptr, 0, format, arguments);
  va_end(arguments);
  std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);
  bool written = length >= 0 && WriteConsoleText(text);
  if (!written) g_ConsoleWriteFailed = true;
  return written;
}

bool FlushConsole() {
  bool flushed = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
  return flushed && !g_ConsoleWriteFailed;
}

}  // namespace platform
