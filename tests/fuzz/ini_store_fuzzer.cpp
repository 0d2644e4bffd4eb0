// Fuzz target for the INI store: any file content, then a set of key writes into section "file".
// Every written key must read back with its value, and every line the writes did not touch must
// keep its bytes and its place. The checks use their own line and section reading, so they do not
// share a fault with the store.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "inilist/ini_store.h"
#include "platform/platform.h"

namespace {

constexpr std::string_view kSection = "file";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// Values never hold an LF, so this default can never be a value read back.
constexpr std::string_view kAbsent = "\n<absent>";

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n' || c == '\x1A';
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

struct Line {
  std::string text;
  std::string end;
  bool operator==(const Line&) const = default;
};

// CR LF, LF and a lone CR each end a line.
std::vector<Line> Lines(std::string_view content) {
  std::vector<Line> lines;
  size_t i = 0;
  while (i < content.size()) {
    Line line;
    while (i < content.size() && content[i] != '\r' && content[i] != '\n')
      line.text += content[i++];
    if (i < content.size()) {
      size_t endLength =
          content[i] == '\r' && i + 1 < content.size() && content[i + 1] == '\n' ? 2 : 1;
      line.end = std::string(content.substr(i, endLength));
      i += endLength;
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

// A header's first non-blank character is '['; its name runs to the last ']'.
bool IsHeader(std::string_view text, std::string& name) {
  text = TrimBlanks(text);
  if (text.empty() || text.front() != '[') return false;
  size_t closing = text.rfind(']');
  if (closing == std::string_view::npos || closing == 0) return false;
  name = Lower(TrimBlanks(text.substr(1, closing - 1)));
  return true;
}

// The lower-case key of a "key=value" line, or false.
bool KeyOf(std::string_view text, std::string& key) {
  size_t equals = text.find('=');
  if (equals == std::string_view::npos) return false;
  key = Lower(TrimBlanks(text.substr(0, equals)));
  return true;
}

// The case being checked, printed when a property breaks.
const std::string* g_Content = nullptr;
const KeyValueWrites* g_Writes = nullptr;
const std::string* g_Result = nullptr;

void PrintEscaped(const char* label, std::string_view text) {
  std::fprintf(stderr, "%s \"", label);
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F && c != '\\' && c != '"') {
      std::fputc(c, stderr);
    } else {
      std::fprintf(stderr, "\\x%02X", c);
    }
  }
  std::fprintf(stderr, "\"\n");
}

[[noreturn]] void Fail(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "INI store property broken: %s\n", what);
  PrintEscaped("at", detail);
  if (g_Content != nullptr) PrintEscaped("content", *g_Content);
  if (g_Writes != nullptr) {
    for (const auto& [key, value] : *g_Writes) {
      PrintEscaped("write key", key);
      PrintEscaped("      value", value);
    }
  }
  if (g_Result != nullptr) PrintEscaped("result", *g_Result);
  std::abort();
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
  value = std::string(TrimBlanks(value));
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value += 'x';
  }
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string content = input.ConsumeRandomLengthString(1 << 16);
  KeyValueWrites writes;
  std::map<std::string, std::string> finalValues;  // by lower-case key: the last write wins
  while (input.remaining_bytes() > 0 && writes.size() < 64) {
    std::string key = MakeKey(input);
    std::string value = MakeValue(input);
    finalValues[Lower(key)] = value;
    writes.emplace_back(std::move(key), std::move(value));
  }

  const std::string result = ApplyIniWrites(content, kSection, writes);
  g_Content = &content;
  g_Writes = &writes;
  g_Result = &result;

  // A file in UTF-8 (it starts with the byte-order mark) keeps the mark and gets its new text in
  // UTF-8; reading converts back to the ANSI code page.
  const bool utf8 = std::string_view(content).starts_with(kByteOrderMark);
  if (utf8 != std::string_view(result).starts_with(kByteOrderMark)) Fail("byte-order mark");
  auto fileText = [utf8](const std::string& ansi) {
    return utf8 ? platform::AnsiToUtf8(ansi) : ansi;
  };

  // Every written key reads back with its last value.
  for (const auto& [key, value] : finalValues) {
    if (utf8 && platform::Utf8ToAnsi(platform::AnsiToUtf8(value)) != value) continue;
    if (ReadIniValue(result, kSection, key, kAbsent) != value) Fail("read back", key);
  }

  // Walk the old lines and the new ones side by side. An old line stays as it was, or it is the
  // first line of a written key in the first section "file" and gets the new value after its
  // "key =" text, or it is the last line and gains the line end that lets lines follow it. A new
  // line in between is an added "key=value" line or the added section header.
  const size_t skip = utf8 ? kByteOrderMark.size() : 0;
  const std::vector<Line> before = Lines(std::string_view(content).substr(skip));
  const std::vector<Line> after = Lines(std::string_view(result).substr(skip));

  std::map<size_t, std::string> replaceable;  // old line index -> lower-case key
  bool sectionFound = false;
  {
    bool inSection = false;
    std::map<std::string, bool> seen;
    for (size_t i = 0; i < before.size(); ++i) {
      std::string name;
      if (IsHeader(before[i].text, name)) {
        if (inSection) break;
        inSection = sectionFound = name == kSection;
        continue;
      }
      std::string key;
      if (inSection && KeyOf(before[i].text, key) && finalValues.count(key) && !seen[key]) {
        seen[key] = true;
        replaceable[i] = key;
      }
    }
  }

  std::map<std::string, bool> added;
  size_t i = 0;
  for (size_t j = 0; j < after.size(); ++j) {
    const Line& now = after[j];
    if (i < before.size() && now == before[i]) {
      ++i;
      continue;
    }
    if (i < before.size()) {
      const Line& old = before[i];
      const bool gainsEnd = i + 1 == before.size() && old.end.empty() && now.end == "\r\n";
      if (gainsEnd && now.text == old.text) {
        ++i;
        continue;
      }
      auto key = replaceable.find(i);
      if (key != replaceable.end() && (now.end == old.end || gainsEnd)) {
        size_t valueStart = old.text.find('=') + 1;
        while (valueStart < old.text.size() && IsBlank(old.text[valueStart])) ++valueStart;
        if (now.text != old.text.substr(0, valueStart) + fileText(finalValues[key->second])) {
          Fail("replaced line", now.text);
        }
        ++i;
        continue;
      }
    }
    if (now.end != "\r\n") Fail("added line without CR LF", now.text);
    std::string name;
    if (!sectionFound && IsHeader(now.text, name) && now.text == "[file]") continue;
    std::string key;
    if (!KeyOf(now.text, key) || !finalValues.count(key) || added[key]) {
      Fail("unexpected line", now.text);
    }
    added[key] = true;
    if (now.text.substr(now.text.find('=') + 1) != fileText(finalValues[key])) {
      Fail("added value", now.text);
    }
  }
  if (i != before.size()) Fail("a line was lost", before[i].text);
  return 0;
}
