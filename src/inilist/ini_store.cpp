#include "inilist/ini_store.h"

#include <unordered_map>

#include "platform/platform.h"

namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsIniBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsIniBlank(text.back())) text.remove_suffix(1);
  return text;
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Section and key names match case-insensitively for ASCII letters only.
bool NamesMatch(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = AsciiLower(c);
  return lower;
}

struct Line {
  std::string_view text;  // without its line end
  std::string_view end;   // "\r\n", "\n", "\r" or empty for a last line without one
};

// Splits INI text into lines; CR LF, LF and a lone CR each end a line.
std::vector<Line> SplitLines(std::string_view content) {
  std::vector<Line> lines;
  size_t start = 0;
  while (start < content.size()) {
    size_t stop = content.find_first_of("\r\n", start);
    if (stop == std::string_view::npos) {
      lines.push_back({content.substr(start), {}});
      break;
    }
    size_t endLength =
        content[stop] == '\r' && stop + 1 < content.size() && content[stop + 1] == '\n' ? 2 : 1;
    lines.push_back({content.substr(start, stop - start), content.substr(stop, endLength)});
    start = stop + endLength;
  }
  return lines;
}

// The section name of a header line ("[name]", text after the last ']' ignored), or false when
// the line is not a header: its first non-blank character must be '[' and a ']' must follow.
bool HeaderName(std::string_view line, std::string_view& name) {
  std::string_view text = Trim(line);
  if (text.empty() || text.front() != '[') return false;
  size_t closing = text.rfind(']');
  if (closing == std::string_view::npos || closing == 0) return false;
  name = Trim(text.substr(1, closing - 1));
  return true;
}

// The key of a "key=value" line and the offset in `line` where the text after '=' starts.
bool KeyOfLine(std::string_view line, std::string_view& key, size_t& afterEquals) {
  size_t equals = line.find('=');
  if (equals == std::string_view::npos) return false;
  key = Trim(line.substr(0, equals));
  afterEquals = equals + 1;
  return true;
}

std::string_view ReadValue(std::string_view raw) {
  size_t nul = raw.find('\0');
  if (nul != std::string_view::npos) raw = raw.substr(0, nul);
  raw = Trim(raw);
  // One pair of matching surrounding quotes is stripped.
  if (raw.size() >= 2 && (raw.front() == '"' || raw.front() == '\'') && raw.back() == raw.front()) {
    raw = raw.substr(1, raw.size() - 2);
  }
  return raw;
}

// The lines of the first section named `section`: [begin, end), the lines after its header up
// to the next header. Keys before the first header form the section with the empty name.
struct SectionRange {
  bool found = false;
  size_t begin = 0;
  size_t end = 0;
};

SectionRange FindSection(const std::vector<Line>& lines, std::string_view section) {
  section = Trim(section);
  SectionRange range{section.empty(), 0, lines.size()};
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view name;
    if (!HeaderName(lines[i].text, name)) continue;
    if (range.found) {
      range.end = i;
      break;
    }
    if (NamesMatch(name, section)) {
      range.found = true;
      range.begin = i + 1;
    }
  }
  return range;
}

// What a sequence of writes does to the lines of a file: new texts of existing lines, by line
// index, and the new "key=value" lines, which go in before line `insertAt`.
struct WritePlan {
  std::unordered_map<size_t, std::string> replaced;
  std::vector<std::string> added;
  size_t insertAt = 0;
};

template <typename ToFileText>
WritePlan PlanWrites(const std::vector<Line>& lines, const SectionRange& range,
                     const KeyValueWrites& writes, ToFileText fileText) {
  WritePlan plan;
  // New keys follow the section's last non-blank line; a new section goes at the end.
  plan.insertAt = range.found ? range.begin : lines.size();
  std::unordered_map<std::string, size_t> keyLines;  // the first line of each key
  for (size_t i = range.begin; range.found && i < range.end; ++i) {
    if (!Trim(lines[i].text).empty()) plan.insertAt = i + 1;
    std::string_view key;
    size_t afterEquals = 0;
    if (KeyOfLine(lines[i].text, key, afterEquals)) keyLines.try_emplace(LowerAscii(key), i);
  }
  std::unordered_map<std::string, size_t> addedKeys;
  for (const auto& [key, value] : writes) {
    std::string lowerKey = LowerAscii(Trim(key));
    if (auto existing = keyLines.find(lowerKey); existing != keyLines.end()) {
      // The text up to the value (key spelling, blanks around '=') is kept.
      std::string_view text = lines[existing->second].text;
      size_t valueStart = text.find('=') + 1;
      while (valueStart < text.size() && IsIniBlank(text[valueStart])) ++valueStart;
      plan.replaced[existing->second] = std::string(text.substr(0, valueStart)) + fileText(value);
    } else if (auto again = addedKeys.find(lowerKey); again != addedKeys.end()) {
      plan.added[again->second] = fileText(key) + "=" + fileText(value);
    } else {
      addedKeys.emplace(lowerKey, plan.added.size());
      plan.added.push_back(fileText(key) + "=" + fileText(value));
    }
  }
  return plan;
}

}  // namespace

bool IsIniBlank(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n' || c == '\x1A';
}

std::string ReadIniValue(std::string_view content, std::string_view section, std::string_view key,
                         std::string_view defaultValue) {
  bool utf8 = content.starts_with(kUtf8ByteOrderMark);
  if (utf8) content.remove_prefix(kUtf8ByteOrderMark.size());
  std::vector<Line> lines = SplitLines(content);
  SectionRange range = FindSection(lines, section);
  key = Trim(key);
  for (size_t i = range.begin; range.found && i < range.end; ++i) {
    std::string_view lineKey;
    size_t afterEquals = 0;
    if (!KeyOfLine(lines[i].text, lineKey, afterEquals) || !NamesMatch(lineKey, key)) continue;
    std::string_view value = ReadValue(lines[i].text.substr(afterEquals));
    return utf8 ? platform::Utf8ToAnsi(value) : std::string(value);
  }
  return std::string(defaultValue);
}

std::string ReadIniFileValue(const std::string& path, std::string_view section,
                             std::string_view key, std::string_view defaultValue) {
  std::string content;
  if (platform::ReadWholeFile(path, content) != platform::ReadResult::kOk) {
    return std::string(defaultValue);
  }
  return ReadIniValue(content, section, key, defaultValue);
}

std::string ApplyIniWrites(std::string_view content, std::string_view section,
                           const KeyValueWrites& writes) {
  bool utf8 = content.starts_with(kUtf8ByteOrderMark);
  auto fileText = [utf8](std::string_view ansi) {
    return utf8 ? platform::AnsiToUtf8(ansi) : std::string(ansi);
  };
  std::vector<Line> lines = SplitLines(content.substr(utf8 ? kUtf8ByteOrderMark.size() : 0));
  SectionRange range = FindSection(lines, section);
  WritePlan plan = PlanWrites(lines, range, writes, fileText);

  std::string result;
  result.reserve(content.size() + writes.size() * 48 + 16);
  if (utf8) result += kUtf8ByteOrderMark;
  for (size_t i = 0; i <= lines.size(); ++i) {
    if (i == plan.insertAt && !plan.added.empty()) {
      // The line before the new ones needs a line end of its own.
      if (i > 0 && lines[i - 1].end.empty()) result += "\r\n";
      if (!range.found) result.append("[").append(fileText(Trim(section))).append("]\r\n");
      for (const std::string& line : plan.added) result.append(line).append("\r\n");
    }
    if (i == lines.size()) break;
    auto change = plan.replaced.find(i);
    result += change != plan.replaced.end() ? std::string_view(change->second) : lines[i].text;
    result += lines[i].end;
  }
  return result;
}
