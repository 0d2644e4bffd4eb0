#include "inilist/ini_store.h"

#include <algorithm>
#include <unordered_map>

#include "platform/platform.h"

namespace {

// How the text of an INI file is stored, told by its first bytes as the profile functions tell
// it.
enum class Encoding {
  kAnsi,
  kUtf8,            // UTF-8 byte-order mark; written as ANSI text (see Encode)
  kUtf16,           // UTF-16 LE byte-order mark: UTF-16 LE throughout
  kUtf16BigEndian,  // UTF-16 BE byte-order mark: not read as text, never written
};

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16ByteOrderMark = "\xFF\xFE";
constexpr std::string_view kUtf16BigEndianByteOrderMark = "\xFE\xFF";

// The parts of an INI file: its byte-order mark, the body of whole text units, and the odd byte
// that may follow the last whole unit of a UTF-16 file. That byte belongs to no character; it
// stays the file's last byte, so that whatever is added before it stays aligned to units.
struct FileParts {
  Encoding encoding = Encoding::kAnsi;
  std::string_view mark;
  std::string_view body;
  std::string_view tail;
};

FileParts SplitFile(std::string_view content) {
  FileParts file;
  if (content.starts_with(kUtf8ByteOrderMark)) {
    file.encoding = Encoding::kUtf8;
    file.mark = kUtf8ByteOrderMark;
  } else if (content.starts_with(kUtf16ByteOrderMark)) {
    file.encoding = Encoding::kUtf16;
    file.mark = kUtf16ByteOrderMark;
  } else if (content.starts_with(kUtf16BigEndianByteOrderMark)) {
    file.encoding = Encoding::kUtf16BigEndian;
    file.mark = kUtf16BigEndianByteOrderMark;
  }
  file.body = content.substr(file.mark.size());
  if (file.encoding == Encoding::kUtf16 && file.body.size() % 2 != 0) {
    file.tail = file.body.substr(file.body.size() - 1);
    file.body.remove_suffix(1);
  }
  return file;
}

size_t UnitSize(Encoding encoding) { return encoding == Encoding::kUtf16 ? 2 : 1; }

// The text unit at byte offset `at`: a byte, or a UTF-16 LE unit.
char16_t UnitAt(std::string_view bytes, size_t at, size_t unitSize) {
  auto low = static_cast<unsigned char>(bytes[at]);
  if (unitSize == 1) return low;
  return static_cast<char16_t>(low | static_cast<unsigned char>(bytes[at + 1]) << 8);
}

bool IsBlankUnit(char16_t unit) { return unit < 0x80 && IsIniBlank(static_cast<char>(unit)); }

std::u16string DecodeUtf16(std::string_view bytes) {
  std::u16string units(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i) units[i] = UnitAt(bytes, 2 * i, 2);
  return units;
}

// ANSI text as the file stores it. A UTF-8 file gets the ANSI bytes unchanged, as the profile
// write of current Windows does (it takes such a file for ANSI): the list in client.ini must
// name each file with the same bytes as update_file.ini, or a client comparing them sees every
// Chinese name as changed.
std::string Encode(std::string_view ansi, Encoding encoding) {
  if (encoding != Encoding::kUtf16) return std::string(ansi);
  std::string bytes;
  bytes.reserve(2 * ansi.size());
  for (char16_t unit : platform::AnsiToUtf16(ansi)) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

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

// One line of a file. The parse reads `text`; writing copies `bytes` and `end` of every line it
// does not change.
struct Line {
  std::string_view text;   // the line in the ANSI code page, without its line end
  std::string_view bytes;  // the line as the file stores it, without its line end
  std::string_view end;    // CR LF, LF or CR in the file's units; empty for a last line without
};

// Splits a body into lines on its units; CR LF, LF and a lone CR each end a line.
std::vector<Line> SplitUnits(std::string_view body, size_t unitSize) {
  std::vector<Line> lines;
  size_t start = 0;
  while (start < body.size()) {
    size_t stop = start;
    while (stop < body.size() && UnitAt(body, stop, unitSize) != '\r' &&
           UnitAt(body, stop, unitSize) != '\n') {
      stop += unitSize;
    }
    size_t endLength = stop == body.size() ? 0 : unitSize;
    if (endLength != 0 && UnitAt(body, stop, unitSize) == '\r' && stop + unitSize < body.size() &&
        UnitAt(body, stop + unitSize, unitSize) == '\n') {
      endLength *= 2;
    }
    std::string_view bytes = body.substr(start, stop - start);
    lines.push_back({bytes, bytes, body.substr(stop, endLength)});
    start = stop + endLength;
  }
  return lines;
}

// The lines of a file. The text of a UTF-16 line is the line converted to the ANSI code page,
// kept in `ansiText`, which must outlive the lines; other lines are their own text.
std::vector<Line> SplitLines(const FileParts& file, std::string& ansiText) {
  std::vector<Line> lines = SplitUnits(file.body, UnitSize(file.encoding));
  if (file.encoding != Encoding::kUtf16) return lines;
  std::vector<size_t> lengths;
  lengths.reserve(lines.size());
  for (const Line& line : lines) {
    size_t before = ansiText.size();
    ansiText += platform::Utf16ToAnsi(DecodeUtf16(line.bytes));
    lengths.push_back(ansiText.size() - before);
  }
  // Only now that `ansiText` is complete can views into it be taken.
  size_t start = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    lines[i].text = std::string_view(ansiText).substr(start, lengths[i]);
    start += lengths[i];
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

// Where the value of a "key=value" line starts in its stored bytes: after the first '=' and the
// blanks that follow it. Both are ASCII, which every encoding here stores as one unit each.
size_t StoredValueStart(std::string_view bytes, size_t unitSize) {
  size_t at = 0;
  while (at < bytes.size() && UnitAt(bytes, at, unitSize) != '=') at += unitSize;
  at += unitSize;
  while (at < bytes.size() && IsBlankUnit(UnitAt(bytes, at, unitSize))) at += unitSize;
  return std::min(at, bytes.size());
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

// What a sequence of writes does to the lines of a file, in the file's encoding: new bytes of
// existing lines, by line index, and the new lines (the section header first when the section
// is new), which go in before line `insertAt`. Line ends are not included.
struct WritePlan {
  std::unordered_map<size_t, std::string> replaced;
  std::vector<std::string> added;
  size_t insertAt = 0;
};

// The first line of each key of the section, by lower-case key, and where new keys go: after
// the section's last non-blank line, or at the end of the file for a new section.
std::unordered_map<std::string, size_t> IndexKeys(const std::vector<Line>& lines,
                                                  const SectionRange& range, size_t& insertAt) {
  std::unordered_map<std::string, size_t> keyLines;
  insertAt = range.found ? range.begin : lines.size();
  for (size_t i = range.begin; range.found && i < range.end; ++i) {
    if (!Trim(lines[i].text).empty()) insertAt = i + 1;
    std::string_view key;
    size_t afterEquals = 0;
    if (KeyOfLine(lines[i].text, key, afterEquals)) keyLines.try_emplace(LowerAscii(key), i);
  }
  return keyLines;
}

WritePlan PlanWrites(const std::vector<Line>& lines, const SectionRange& range,
                     std::string_view section, const KeyValueWrites& writes, Encoding encoding) {
  WritePlan plan;
  std::unordered_map<std::string, size_t> keyLines = IndexKeys(lines, range, plan.insertAt);
  std::unordered_map<std::string, size_t> addedKeys;
  for (const auto& [key, value] : writes) {
    std::string lowerKey = LowerAscii(Trim(key));
    if (auto existing = keyLines.find(lowerKey); existing != keyLines.end()) {
      // The stored text up to the value (key spelling, blanks around '=') is kept.
      std::string_view bytes = lines[existing->second].bytes;
      plan.replaced[existing->second] =
          std::string(bytes.substr(0, StoredValueStart(bytes, UnitSize(encoding)))) +
          Encode(value, encoding);
      continue;
    }
    std::string line = Encode(key, encoding) + Encode("=", encoding) + Encode(value, encoding);
    if (auto again = addedKeys.find(lowerKey); again != addedKeys.end()) {
      plan.added[again->second] = std::move(line);
    } else {
      addedKeys.emplace(lowerKey, plan.added.size());
      plan.added.push_back(std::move(line));
    }
  }
  if (!range.found && !plan.added.empty()) {
    std::string header = std::string("[").append(Trim(section)).append("]");
    plan.added.insert(plan.added.begin(), Encode(header, encoding));
  }
  return plan;
}

std::string Render(const FileParts& file, const std::vector<Line>& lines, const WritePlan& plan) {
  const std::string lineEnd = Encode("\r\n", file.encoding);
  std::string result(file.mark);
  result.reserve(file.mark.size() + file.body.size() + plan.added.size() * 48 + 16);
  for (size_t i = 0; i <= lines.size(); ++i) {
    if (i == plan.insertAt && !plan.added.empty()) {
      // The line before the new ones needs a line end of its own.
      if (i > 0 && lines[i - 1].end.empty()) result += lineEnd;
      for (const std::string& line : plan.added) result.append(line).append(lineEnd);
    }
    if (i == lines.size()) break;
    auto change = plan.replaced.find(i);
    result += change != plan.replaced.end() ? std::string_view(change->second) : lines[i].bytes;
    result += lines[i].end;
  }
  result += file.tail;
  return result;
}

}  // namespace

bool IsIniBlank(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n' || c == '\x1A';
}

std::string ReadIniValue(std::string_view content, std::string_view section, std::string_view key,
                         std::string_view defaultValue) {
  FileParts file = SplitFile(content);
  if (file.encoding == Encoding::kUtf16BigEndian) return std::string(defaultValue);
  std::string ansiText;
  std::vector<Line> lines = SplitLines(file, ansiText);
  SectionRange range = FindSection(lines, section);
  key = Trim(key);
  for (size_t i = range.begin; range.found && i < range.end; ++i) {
    std::string_view lineKey;
    size_t afterEquals = 0;
    if (!KeyOfLine(lines[i].text, lineKey, afterEquals) || !NamesMatch(lineKey, key)) continue;
    std::string_view value = ReadValue(lines[i].text.substr(afterEquals));
    // A UTF-8 file's values are converted, as Wine's profile read does: a URL stored in UTF-8
    // can then be read.
    return file.encoding == Encoding::kUtf8 ? platform::Utf8ToAnsi(value) : std::string(value);
  }
  return std::string(defaultValue);
}

bool ReadIniFileValue(const platform::Folder& folder, const std::string& name,
                      std::string_view section, std::string_view key, std::string_view defaultValue,
                      std::string& value) {
  std::string content;
  platform::ReadResult read = platform::ReadWholeFile(folder, name, content);
  value = read == platform::ReadResult::kOk ? ReadIniValue(content, section, key, defaultValue)
                                            : std::string(defaultValue);
  return read == platform::ReadResult::kOk || read == platform::ReadResult::kMissing;
}

bool IsIniWritable(std::string_view content) {
  return SplitFile(content).encoding != Encoding::kUtf16BigEndian;
}

std::string ApplyIniWrites(std::string_view content, std::string_view section,
                           const KeyValueWrites& writes) {
  FileParts file = SplitFile(content);
  if (file.encoding == Encoding::kUtf16BigEndian) return std::string(content);
  std::string ansiText;
  std::vector<Line> lines = SplitLines(file, ansiText);
  SectionRange range = FindSection(lines, section);
  WritePlan plan = PlanWrites(lines, range, section, writes, file.encoding);
  return Render(file, lines, plan);
}
