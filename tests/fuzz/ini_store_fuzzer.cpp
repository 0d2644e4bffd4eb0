// Fuzz target for the INI store: any file content, in the bytes given or as UTF-16 built from
// them, then a set of key writes into section "file". Every written key must read back with its
// value, and every line the writes did not touch must keep its bytes and its place. The checks
// read lines and sections on their own, on the file's text units (bytes, or UTF-16 units), so
// they do not share a fault with the store, which parses UTF-16 lines converted to the ANSI code
// page.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "inilist/ini_store.h"
#include "platform/platform.h"

namespace {

constexpr std::u16string_view kSection = u"file";
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16Mark = "\xFF\xFE";
constexpr std::string_view kUtf16BigEndianMark = "\xFE\xFF";
// Values never hold an LF, so this default can never be a value read back.
constexpr std::string_view kAbsent = "\n<absent>";

bool IsBlank(char16_t c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n' || c == 0x1A;
}

std::u16string_view TrimBlanks(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::u16string Lower(std::u16string_view text) {
  std::u16string lower(text);
  for (char16_t& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char16_t>(c - 'A' + 'a');
  }
  return lower;
}

std::u16string Widen(std::string_view bytes) {
  std::u16string units;
  for (unsigned char c : bytes) units.push_back(c);
  return units;
}

// The keys are ASCII.
std::string Narrow(std::u16string_view ascii) { return std::string(ascii.begin(), ascii.end()); }

std::string Utf16Bytes(std::u16string_view units) {
  std::string bytes;
  for (char16_t unit : units) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

// How a file stores its text, told by its first bytes, and its text units after the mark: the
// bytes, or the UTF-16 LE units with an odd last byte apart.
struct Units {
  std::string_view mark;
  bool utf16 = false;
  std::u16string units;
  std::string tail;
};

Units UnitsOf(std::string_view content) {
  Units file;
  for (std::string_view mark : {kUtf8Mark, kUtf16Mark, kUtf16BigEndianMark}) {
    if (content.starts_with(mark)) file.mark = mark;
  }
  content.remove_prefix(file.mark.size());
  file.utf16 = file.mark == kUtf16Mark;
  if (!file.utf16) {
    file.units = Widen(content);
    return file;
  }
  if (content.size() % 2 != 0) file.tail = content.substr(content.size() - 1);
  for (size_t i = 0; i + 1 < content.size(); i += 2) {
    file.units.push_back(static_cast<char16_t>(static_cast<unsigned char>(content[i]) |
                                               static_cast<unsigned char>(content[i + 1]) << 8));
  }
  return file;
}

struct Line {
  std::u16string text;
  std::u16string end;
  bool operator==(const Line&) const = default;
};

// CR LF, LF and a lone CR each end a line.
std::vector<Line> Lines(std::u16string_view content) {
  std::vector<Line> lines;
  size_t i = 0;
  while (i < content.size()) {
    Line line;
    while (i < content.size() && content[i] != '\r' && content[i] != '\n') {
      line.text += content[i++];
    }
    if (i < content.size()) {
      size_t endLength =
          content[i] == '\r' && i + 1 < content.size() && content[i + 1] == '\n' ? 2 : 1;
      line.end = std::u16string(content.substr(i, endLength));
      i += endLength;
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

// A header's first non-blank character is '['; its name runs to the last ']'.
bool IsHeader(std::u16string_view text, std::u16string& name) {
  text = TrimBlanks(text);
  if (text.empty() || text.front() != '[') return false;
  size_t closing = text.rfind(']');
  if (closing == std::u16string_view::npos || closing == 0) return false;
  name = Lower(TrimBlanks(text.substr(1, closing - 1)));
  return true;
}

// The lower-case key of a "key=value" line, or false.
bool KeyOf(std::u16string_view text, std::u16string& key) {
  size_t equals = text.find('=');
  if (equals == std::u16string_view::npos) return false;
  key = Lower(TrimBlanks(text.substr(0, equals)));
  return true;
}

// The case being checked, printed when a property breaks.
const std::string* g_Content = nullptr;
const KeyValueWrites* g_Writes = nullptr;
const std::string* g_Result = nullptr;

void PrintEscaped(const char* label, std::u16string_view text) {
  std::fprintf(stderr, "%s \"", label);
  for (char16_t c : text) {
    if (c >= 0x20 && c < 0x7F && c != '\\' && c != '"') {
      std::fputc(c, stderr);
    } else {
      std::fprintf(stderr, c < 0x100 ? "\\x%02X" : "\\u%04X", static_cast<unsigned>(c));
    }
  }
  std::fprintf(stderr, "\"\n");
}

[[noreturn]] void Fail(const char* what, std::u16string_view detail = {}) {
  std::fprintf(stderr, "INI store property broken: %s\n", what);
  PrintEscaped("at", detail);
  if (g_Content != nullptr) PrintEscaped("content", Widen(*g_Content));
  if (g_Writes != nullptr) {
    for (const auto& [key, value] : *g_Writes) {
      PrintEscaped("write key", Widen(key));
      PrintEscaped("      value", Widen(value));
    }
  }
  if (g_Result != nullptr) PrintEscaped("result", Widen(*g_Result));
  std::abort();
}

// File text as UTF-16: each ASCII byte stands for itself; each other byte for a unit or pair
// the store must take care with (no ANSI form, unpaired surrogates, units whose bytes look like
// line ends, '=' or '[', a mark inside the text).
std::string Utf16File(std::string_view bytes, bool bigEndian) {
  static constexpr std::u16string_view kOthers[] = {
      u"\u503C",     u"\u6570\u636E", u"\u00A0", u"\u3000", u"\uFF1D",
      u"\U0001F600", u"\xD83D",       u"\xDC00", u"\uFEFF", u"\u0A0D",
      u"\u0D00",     u"\u3D00",       u"\u5B5D", u"\u20AC", u"\uFFFD"};
  std::u16string units;
  for (unsigned char c : bytes) {
    units += c < 0x80 ? std::u16string(1, c) : std::u16string(kOthers[c % std::size(kOthers)]);
  }
  std::string file = Utf16Bytes(units);
  for (size_t i = 0; bigEndian && i < file.size(); i += 2) std::swap(file[i], file[i + 1]);
  return std::string(bigEndian ? kUtf16BigEndianMark : kUtf16Mark) + file;
}

// Keys as the tool writes them (value_count, value_key<i>, value_<i>) or other plain names.
std::string MakeKey(FuzzedDataProvider& input) {
  switch (input.ConsumeIntegralInRange(0, 3)) {
    case 0:
      return "value_count";
    case 1:
      return "value_key" + std::to_string(input.ConsumeIntegralInRange(0, 40));
    case 2:
      return "value_" + std::to_string(input.ConsumeIntegralInRange(0, 40));
    default: {
      static constexpr char kNameCharacters[] =
          "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_.-";
      std::string key;
      for (unsigned char c : input.ConsumeRandomLengthString(16)) {
        key += kNameCharacters[c % (sizeof kNameCharacters - 1)];
      }
      return key.empty() ? "k" : key;
    }
  }
}

// Values as the tool writes them: no CR, LF or NUL, no blank at either end, not wrapped in a
// pair of matching quotes.
std::string MakeValue(FuzzedDataProvider& input) {
  std::string value;
  for (char c : input.ConsumeRandomLengthString(64)) {
    if (c != '\r' && c != '\n' && c != '\0') value += c;
  }
  while (!value.empty() && IsBlank(static_cast<unsigned char>(value.front()))) value.erase(0, 1);
  while (!value.empty() && IsBlank(static_cast<unsigned char>(value.back()))) value.pop_back();
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value += 'x';
  }
  return value;
}

// The first lines of the written keys in the first section "file": old line index -> key.
std::map<size_t, std::u16string> ReplaceableLines(
    const std::vector<Line>& before, const std::map<std::u16string, std::u16string>& values,
    bool& sectionFound) {
  std::map<size_t, std::u16string> replaceable;
  bool inSection = false;
  std::map<std::u16string, bool> seen;
  for (size_t i = 0; i < before.size(); ++i) {
    std::u16string name;
    if (IsHeader(before[i].text, name)) {
      if (inSection) break;
      inSection = sectionFound = name == kSection;
      continue;
    }
    std::u16string key;
    if (inSection && KeyOf(before[i].text, key) && values.count(key) && !seen[key]) {
      seen[key] = true;
      replaceable[i] = key;
    }
  }
  return replaceable;
}

// Walks the old lines and the new ones side by side. An old line stays as it was, or it is the
// first line of a written key in the first section "file" and gets the new value after its
// "key =" text, or it is the last line and gains the line end that lets lines follow it. A new
// line in between is an added "key=value" line or the added section header.
void CheckLines(const std::vector<Line>& before, const std::vector<Line>& after,
                const std::map<std::u16string, std::u16string>& values) {
  bool sectionFound = false;
  const std::map<size_t, std::u16string> replaceable =
      ReplaceableLines(before, values, sectionFound);
  std::map<std::u16string, bool> added;
  size_t i = 0;
  for (const Line& now : after) {
    if (i < before.size() && now == before[i]) {
      ++i;
      continue;
    }
    if (i < before.size()) {
      const Line& old = before[i];
      const bool gainsEnd = i + 1 == before.size() && old.end.empty() && now.end == u"\r\n";
      if (gainsEnd && now.text == old.text) {
        ++i;
        continue;
      }
      auto key = replaceable.find(i);
      if (key != replaceable.end() && (now.end == old.end || gainsEnd)) {
        size_t valueStart = old.text.find('=') + 1;
        while (valueStart < old.text.size() && IsBlank(old.text[valueStart])) ++valueStart;
        if (now.text != old.text.substr(0, valueStart) + values.at(key->second)) {
          Fail("replaced line", now.text);
        }
        ++i;
        continue;
      }
    }
    if (now.end != u"\r\n") Fail("added line without CR LF", now.text);
    std::u16string name;
    if (!sectionFound && IsHeader(now.text, name) && now.text == u"[file]") continue;
    std::u16string key;
    if (!KeyOf(now.text, key) || !values.count(key) || added[key]) {
      Fail("unexpected line", now.text);
    }
    added[key] = true;
    if (now.text.substr(now.text.find('=') + 1) != values.at(key)) Fail("added value", now.text);
  }
  if (i != before.size()) Fail("a line was lost", before[i].text);
}

// The values written, two by two as key and value, written as a list give what the profile
// writes of that list give: the list write tells the list's keys in the file by their form.
void CheckListWrite(const std::string& content, const KeyValueWrites& writes) {
  OrderedList list;
  for (size_t i = 0; i + 1 < writes.size(); i += 2) {
    list.Insert(writes[i].second, writes[i + 1].second);
  }
  KeyValueWrites listWrites = {{"value_count", std::to_string(list.Size())}};
  for (size_t i = 0; i < list.Size(); ++i) {
    listWrites.emplace_back("value_key" + std::to_string(i), list.Entries()[i].Key());
    listWrites.emplace_back("value_" + std::to_string(i), list.Entries()[i].Value());
  }
  if (ApplyIniList(content, "file", list) != ApplyIniWrites(content, "file", listWrites)) {
    Fail("list write");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string text = input.ConsumeRandomLengthString(1 << 16);
  // The bytes as given (which may begin with any mark), or UTF-16 LE or BE built from them.
  const int form = input.ConsumeIntegralInRange(0, 7);
  const bool utf16 = form >= 4 && form < 7;
  std::string content = form < 4 ? text : Utf16File(text, form == 7);
  if (utf16 && input.ConsumeBool()) content += '\x7F';
  KeyValueWrites writes;
  std::map<std::u16string, std::string> finalValues;  // by lower-case key: the last write wins
  while (input.remaining_bytes() > 0 && writes.size() < 64) {
    std::string key = MakeKey(input);
    std::string value = MakeValue(input);
    finalValues[Lower(Widen(key))] = value;
    writes.emplace_back(std::move(key), std::move(value));
  }

  const std::string result = ApplyIniWrites(content, "file", writes);
  g_Content = &content;
  g_Writes = &writes;
  g_Result = &result;
  CheckListWrite(content, writes);
  const Units before = UnitsOf(content);
  const Units after = UnitsOf(result);

  // UTF-16 BE text is neither read nor written.
  if (before.mark == kUtf16BigEndianMark) {
    if (result != content || IsIniWritable(content)) Fail("UTF-16 BE text written");
    for (const auto& entry : finalValues) {
      if (ReadIniValue(content, "file", Narrow(entry.first), kAbsent) != kAbsent) {
        Fail("UTF-16 BE read", entry.first);
      }
    }
    return 0;
  }
  // The mark and an odd last byte stay where they are.
  if (after.mark != before.mark || after.tail != before.tail) Fail("mark or odd last byte");

  // New text is UTF-16 in a UTF-16 file and the ANSI bytes as they are in any other. Every
  // written key reads back with its last value when the file's encoding can carry it (a UTF-8
  // file's values are read as UTF-8).
  std::map<std::u16string, std::u16string> values;
  for (const auto& [key, value] : finalValues) {
    values[key] = before.utf16 ? platform::AnsiToUtf16(value) : Widen(value);
    std::string readsAs = before.utf16 ? platform::Utf16ToAnsi(platform::AnsiToUtf16(value))
                          : before.mark == kUtf8Mark ? platform::Utf8ToAnsi(value)
                                                     : value;
    if (readsAs != value) continue;
    if (ReadIniValue(result, "file", Narrow(key), kAbsent) != value) Fail("read back", key);
  }
  CheckLines(Lines(before.units), Lines(after.units), values);
  return 0;
}
