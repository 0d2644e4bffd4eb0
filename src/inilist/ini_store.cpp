#include "inilist/ini_store.h"

#include <unordered_map>

#include "platform/platform.h"

namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsProfileBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsProfileBlank(text.back())) text.remove_suffix(1);
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

}  // namespace

bool IsProfileBlank(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n' || c == '\x1A';
}

std::string GetProfileString(std::string_view content, std::string_view section,
                             std::string_view key, std::string_view defaultValue) {
  bool utf8 = content.starts_with(kUtf8ByteOrderMark);
  if (utf8) content.remove_prefix(kUtf8ByteOrderMark.size());
  section = Trim(section);
  key = Trim(key);

  // Keys before the first header belong to the nameless section.
  bool inSection = section.empty();
  for (const Line& line : SplitLines(content)) {
    std::string_view name;
    if (HeaderName(line.text, name)) {
      // Only the first section of a name is searched.
      if (inSection) break;
      inSection = NamesMatch(name, section);
      continue;
    }
    std::string_view lineKey;
    size_t afterEquals = 0;
    if (!inSection || !KeyOfLine(line.text, lineKey, afterEquals) || !NamesMatch(lineKey, key)) {
      continue;
    }
    std::string_view value = ReadValue(line.text.substr(afterEquals));
    return utf8 ? platform::Utf8ToAnsi(value) : std::string(value);
  }
  return std::string(defaultValue);
}

std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view defaultValue) {
  std::string content;
  if (platform::ReadWholeFile(path, content) != platform::ReadResult::kOk) {
    return std::string(defaultValue);
  }
  return GetProfileString(content, section, key, defaultValue);
}

std::string ApplyProfileWrites(std::string_view content, std::string_view section,
                               const KeyValueWrites& writes) {
  bool utf8 = content.starts_with(kUtf8ByteOrderMark);
  std::string_view body = content.substr(utf8 ? kUtf8ByteOrderMark.size() : 0);
  auto fileText = [utf8](std::string_view ansi) {
    return utf8 ? platform::AnsiToUtf8(ansi) : std::string(ansi);
  };
  std::vector<Line> lines = SplitLines(body);
  section = Trim(section);

  // Locate the first section of the name; it runs to the next header.
  size_t sectionBegin = lines.size();  // index of the first line inside the section
  size_t sectionEnd = lines.size();
  bool found = section.empty();
  if (found) sectionBegin = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view name;
    if (!HeaderName(lines[i].text, name)) continue;
    if (found) {
      sectionEnd = i;
      break;
    }
    if (NamesMatch(name, section)) {
      found = true;
      sectionBegin = i + 1;
    }
  }

  // Replaced texts of existing lines, by line index, and the first line of each key.
  std::unordered_map<size_t, std::string> replaced;
  std::unordered_map<std::string, size_t> keyLines;
  size_t insertAfter = sectionBegin;  // new keys follow the section's last non-blank line
  if (found) {
    for (size_t i = sectionBegin; i < sectionEnd; ++i) {
      if (!Trim(lines[i].text).empty()) insertAfter = i + 1;
      std::string_view key;
      size_t afterEquals = 0;
      if (KeyOfLine(lines[i].text, key, afterEquals)) keyLines.try_emplace(LowerAscii(key), i);
    }
  }

  std::vector<std::string> added;  // new "key=value" lines, in the order of the writes
  std::unordered_map<std::string, size_t> addedKeys;
  for (const auto& [key, value] : writes) {
    std::string lowerKey = LowerAscii(Trim(key));
    if (auto existing = keyLines.find(lowerKey); existing != keyLines.end()) {
      // The text up to the value (key spelling, blanks around '=') is kept.
      std::string_view text = lines[existing->second].text;
      size_t valueStart = text.find('=') + 1;
      while (valueStart < text.size() && IsProfileBlank(text[valueStart])) ++valueStart;
      replaced[existing->second] = std::string(text.substr(0, valueStart)) + fileText(value);
    } else if (auto again = addedKeys.find(lowerKey); again != addedKeys.end()) {
      added[again->second] = fileText(key) + "=" + fileText(value);
    } else {
      addedKeys.emplace(lowerKey, added.size());
      added.push_back(fileText(key) + "=" + fileText(value));
    }
  }

  std::string result;
  result.reserve(content.size() + writes.size() * 48 + 16);
  if (utf8) result += kUtf8ByteOrderMark;
  // New lines go in before line `position`; the line before them needs a line end of its own.
  auto appendAdded = [&](size_t position) {
    if (position > 0 && lines[position - 1].end.empty()) result += "\r\n";
    if (!found) {
      result += '[';
      result += fileText(section);
      result += "]\r\n";
    }
    for (const std::string& line : added) {
      result += line;
      result += "\r\n";
    }
  };
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i == insertAfter && found && !added.empty()) appendAdded(i);
    auto change = replaced.find(i);
    result += change != replaced.end() ? std::string_view(change->second) : lines[i].text;
    result += lines[i].end;
  }
  if (!added.empty() && (!found || insertAfter == lines.size())) appendAdded(lines.size());
  return result;
}
