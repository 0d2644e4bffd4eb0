#include "inilist/ini_store.h"

#include <algorithm>
#include <charconv>
#include <optional>
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

// Appends ANSI text as the file stores it. A UTF-8 file gets the ANSI bytes unchanged, as the
// profile write of current Windows does (it takes such a file for ANSI): the list in client.ini
// must name each file with the same bytes as update_file.ini, or a client comparing them sees
// every Chinese name as changed.
void AppendEncoded(std::string& out, std::string_view ansi, Encoding encoding) {
  if (encoding != Encoding::kUtf16) {
    out += ansi;
    return;
  }
  // ASCII text, the keys and most values of a list, needs no conversion.
  if (std::all_of(ansi.begin(), ansi.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    for (char c : ansi) out.append({c, '\0'});
    return;
  }
  for (char16_t unit : platform::AnsiToUtf16(ansi)) {
    out.push_back(static_cast<char>(unit & 0xFF));
    out.push_back(static_cast<char>(unit >> 8));
  }
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

// Walks the lines of a file's body one at a time, so that no file costs a table of its lines;
// CR LF, LF and a lone CR each end a line. The text of a UTF-16 line is the line converted to
// the ANSI code page, valid until the next line, and only made when asked for (writing copies
// lines by their bytes); other lines are their own text.
class LineWalker {
 public:
  explicit LineWalker(const FileParts& file)
      : m_Body(file.body), m_UnitSize(UnitSize(file.encoding)) {}

  bool Next(Line& line, bool withText = true) {
    if (m_Start >= m_Body.size()) return false;
    size_t stop = EndOfText();
    size_t endLength = stop == m_Body.size() ? 0 : m_UnitSize;
    if (endLength != 0 && UnitAt(m_Body, stop, m_UnitSize) == '\r' &&
        stop + m_UnitSize < m_Body.size() &&
        UnitAt(m_Body, stop + m_UnitSize, m_UnitSize) == '\n') {
      endLength *= 2;
    }
    line.bytes = m_Body.substr(m_Start, stop - m_Start);
    line.end = m_Body.substr(stop, endLength);
    line.text = line.bytes;
    if (m_UnitSize == 2) {
      m_Text = withText ? platform::Utf16LittleEndianToAnsi(line.bytes) : std::string();
      line.text = m_Text;
    }
    m_Start = stop + endLength;
    return true;
  }

 private:
  // Where the line that starts at m_Start ends: at its CR or LF, or the end of the body.
  size_t EndOfText() const {
    size_t stop = m_Start;
    if (m_UnitSize == 1) {
      // A loop of its own: find_first_of calls memchr for every byte.
      while (stop < m_Body.size() && m_Body[stop] != '\r' && m_Body[stop] != '\n') ++stop;
      return stop;
    }
    while (stop < m_Body.size() && UnitAt(m_Body, stop, 2) != '\r' &&
           UnitAt(m_Body, stop, 2) != '\n') {
      stop += 2;
    }
    return stop;
  }

  std::string_view m_Body;
  size_t m_UnitSize;
  size_t m_Start = 0;
  std::string m_Text;
};

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
// to the next header (end is kToEnd when none follows). Keys before the first header form the
// section with the empty name.
struct SectionRange {
  static constexpr size_t kToEnd = static_cast<size_t>(-1);
  bool found = false;
  size_t begin = 0;
  size_t end = kToEnd;

  bool Holds(size_t line) const { return found && line >= begin && line < end; }
};

// Finds the section and calls `visit(index, line)` for each of its lines until `visit` returns
// false.
template <typename Visit>
SectionRange WalkSection(const FileParts& file, std::string_view section, Visit visit) {
  section = Trim(section);
  SectionRange range{section.empty()};
  LineWalker lines(file);
  Line line;
  for (size_t i = 0; lines.Next(line); ++i) {
    std::string_view name;
    if (HeaderName(line.text, name)) {
      if (range.found) {
        range.end = i;
        break;
      }
      if (NamesMatch(name, section)) range = {true, i + 1};
    } else if (range.found && !visit(i, line)) {
      break;
    }
  }
  return range;
}

// The keys and values of one sequence of writes, by slot: each slot is a key that the
// sequence writes, in the order of its first write, with the key's spelling and value of its
// last write (keys match case-insensitively).
class WriteSet {
 public:
  virtual ~WriteSet() = default;
  virtual size_t Count() const = 0;
  // The slot of the key `key` of a line, trimmed; kNoSlot when the writes do not write it.
  virtual size_t SlotOf(std::string_view key) const = 0;
  // The slot's key and value; `scratch` may hold the text.
  virtual std::string_view Key(size_t slot, std::string& scratch) const = 0;
  virtual std::string_view Value(size_t slot, std::string& scratch) const = 0;
  // At least the bytes of every key and value with a line's "=" and line end.
  virtual size_t TextSize() const = 0;

  static constexpr size_t kNoSlot = static_cast<size_t>(-1);
};

class KeyValueWriteSet : public WriteSet {
 public:
  explicit KeyValueWriteSet(const KeyValueWrites& writes) : m_Writes(writes) {
    m_SlotOfKey.reserve(writes.size());
    for (size_t i = 0; i < writes.size(); ++i) {
      auto [slot, isNew] =
          m_SlotOfKey.try_emplace(LowerAscii(Trim(writes[i].first)), m_Last.size());
      if (isNew) {
        m_Last.push_back(i);
      } else {
        m_Last[slot->second] = i;
      }
      m_TextSize += writes[i].first.size() + writes[i].second.size() + 3;
    }
  }
  size_t Count() const override { return m_Last.size(); }
  size_t SlotOf(std::string_view key) const override {
    auto found = m_SlotOfKey.find(LowerAscii(key));
    return found == m_SlotOfKey.end() ? kNoSlot : found->second;
  }
  std::string_view Key(size_t slot, std::string&) const override {
    return m_Writes[m_Last[slot]].first;
  }
  std::string_view Value(size_t slot, std::string&) const override {
    return m_Writes[m_Last[slot]].second;
  }
  size_t TextSize() const override { return m_TextSize; }

 private:
  const KeyValueWrites& m_Writes;
  std::unordered_map<std::string, size_t> m_SlotOfKey;  // by lower-case key
  std::vector<size_t> m_Last;                           // by slot: its last write
  size_t m_TextSize = 0;
};

// The writes of a numbered list: value_count (slot 0), then value_key<i> (slot 1 + 2i) and
// value_<i> (slot 2 + 2i) for each entry i. Keys in the file are told by their form, without a
// table of them.
class ListWriteSet : public WriteSet {
 public:
  explicit ListWriteSet(const OrderedList& list) : m_Entries(list.Entries()) {
    for (const OrderedList::Entry& entry : m_Entries) {
      m_TextSize += entry.Key().size() + entry.Value().size();
    }
    m_TextSize += (Count() + 1) * (std::string_view("value_key=\r\n").size() + kMostDigits);
  }
  size_t Count() const override { return 1 + 2 * m_Entries.size(); }
  size_t SlotOf(std::string_view key) const override {
    constexpr std::string_view kPrefix = "value_";
    if (key.size() <= kPrefix.size() || !NamesMatch(key.substr(0, kPrefix.size()), kPrefix)) {
      return kNoSlot;
    }
    key.remove_prefix(kPrefix.size());
    if (NamesMatch(key, "count")) return 0;
    size_t first = 2;
    if (key.size() > 3 && NamesMatch(key.substr(0, 3), "key")) {
      key.remove_prefix(3);
      first = 1;
    }
    // Decimal text without sign or leading zeros names an index; any other form is another key.
    size_t index = 0;
    auto [end, error] = std::from_chars(key.data(), key.data() + key.size(), index);
    if (error != std::errc() || end != key.data() + key.size() ||
        (key.front() == '0' && key.size() > 1) || index >= m_Entries.size()) {
      return kNoSlot;
    }
    return first + 2 * index;
  }
  std::string_view Key(size_t slot, std::string& scratch) const override {
    if (slot == 0) return "value_count";
    scratch.assign(slot % 2 == 1 ? "value_key" : "value_");
    AppendDecimal(scratch, (slot - 1) / 2);
    return scratch;
  }
  std::string_view Value(size_t slot, std::string& scratch) const override {
    if (slot == 0) {
      scratch.clear();
      AppendDecimal(scratch, m_Entries.size());
      return scratch;
    }
    const size_t index = (slot - 1) / 2;
    // The entries are read in order, their texts from all over memory: the text of an entry a
    // few on is fetched while this one is copied.
    constexpr size_t kAhead = 8;
    if (slot % 2 == 1 && index + kAhead < m_Entries.size()) {
      __builtin_prefetch(m_Entries[index + kAhead].Key().data());
    }
    const OrderedList::Entry& entry = m_Entries[index];
    return slot % 2 == 1 ? entry.Key() : entry.Value();
  }
  size_t TextSize() const override { return m_TextSize; }

 private:
  static constexpr size_t kMostDigits = 20;
  static void AppendDecimal(std::string& text, size_t number) {
    char digits[kMostDigits];
    text.append(digits, std::to_chars(digits, digits + kMostDigits, number).ptr);
  }

  std::span<const OrderedList::Entry> m_Entries;
  size_t m_TextSize = 0;
};

// The slot a line of a section writes: that of its key, when the line is the first of that key.
// `written` marks the slots of the lines before.
size_t SlotOfLine(const Line& line, const WriteSet& writes, std::vector<bool>& written) {
  std::string_view key;
  size_t afterEquals = 0;
  if (!KeyOfLine(line.text, key, afterEquals)) return WriteSet::kNoSlot;
  size_t slot = writes.SlotOf(key);
  if (slot == WriteSet::kNoSlot || written[slot]) return WriteSet::kNoSlot;
  written[slot] = true;
  return slot;
}

// What a sequence of writes does to a file: a key present in the section gets its value in its
// first line; the lines of the others go before line `insertAt` (kAtEnd: at the end of the file),
// after the section's last non-blank line, the section's header first when it is new.
struct WritePlan {
  static constexpr size_t kAtEnd = static_cast<size_t>(-1);
  SectionRange section;
  size_t insertAt = kAtEnd;
  std::vector<bool> present;  // by slot
  size_t presentCount = 0;
};

WritePlan PlanWrites(const FileParts& file, std::string_view section, const WriteSet& writes) {
  WritePlan plan;
  plan.present.assign(writes.Count(), false);
  size_t afterLastText = 0;
  plan.section = WalkSection(file, section, [&](size_t i, const Line& line) {
    if (!Trim(line.text).empty()) afterLastText = i + 1;
    if (SlotOfLine(line, writes, plan.present) != WriteSet::kNoSlot) ++plan.presentCount;
    return true;
  });
  if (plan.section.found) plan.insertAt = std::max(plan.section.begin, afterLastText);
  return plan;
}

// Appends the lines of the slots that are not present, with the section header for a new
// section.
void AppendNewLines(std::string& result, Encoding encoding, std::string_view section,
                    const WritePlan& plan, const WriteSet& writes) {
  const std::string_view lineEnd =
      encoding == Encoding::kUtf16 ? std::string_view("\r\0\n\0", 4) : std::string_view("\r\n");
  if (!plan.section.found) {
    AppendEncoded(result, std::string("[").append(Trim(section)).append("]"), encoding);
    result += lineEnd;
  }
  std::string keyScratch;
  std::string valueScratch;
  for (size_t slot = 0; slot < writes.Count(); ++slot) {
    if (plan.present[slot]) continue;
    AppendEncoded(result, writes.Key(slot, keyScratch), encoding);
    AppendEncoded(result, "=", encoding);
    AppendEncoded(result, writes.Value(slot, valueScratch), encoding);
    result += lineEnd;
  }
}

// The file with the plan carried out: every line it does not change copied byte for byte. The
// lines whose value a write replaces are found again as the plan found them.
std::string Render(std::string_view content, const FileParts& file, std::string_view section,
                   const WritePlan& plan, const WriteSet& writes) {
  const bool adding = plan.presentCount < writes.Count();
  std::string result(file.mark);
  // Room for the largest result, so that the text is never copied as it grows; pages reserved
  // but never written cost no memory.
  result.reserve(content.size() +
                 UnitSize(file.encoding) * (writes.TextSize() + section.size() + 4));
  std::vector<bool> replaced(writes.Count(), false);
  std::string scratch;
  bool lastLineEnded = true;
  LineWalker lines(file);
  Line line;
  size_t i = 0;
  for (; lines.Next(line, plan.section.Holds(i)); ++i) {
    if (i == plan.insertAt && adding) AppendNewLines(result, file.encoding, section, plan, writes);
    size_t slot = plan.section.Holds(i) ? SlotOfLine(line, writes, replaced) : WriteSet::kNoSlot;
    if (slot != WriteSet::kNoSlot) {
      // The stored text up to the value (key spelling, blanks around '=') is kept.
      result += line.bytes.substr(0, StoredValueStart(line.bytes, UnitSize(file.encoding)));
      AppendEncoded(result, writes.Value(slot, scratch), file.encoding);
    } else {
      result += line.bytes;
    }
    result += line.end;
    lastLineEnded = !line.end.empty();
  }
  if (adding && plan.insertAt >= i) {
    // The last line needs a line end of its own before the new ones.
    if (!lastLineEnded) AppendEncoded(result, "\r\n", file.encoding);
    AppendNewLines(result, file.encoding, section, plan, writes);
  }
  result += file.tail;
  return result;
}

std::string ApplyWrites(std::string_view content, std::string_view section,
                        const WriteSet& writes) {
  FileParts file = SplitFile(content);
  if (file.encoding == Encoding::kUtf16BigEndian) return std::string(content);
  return Render(content, file, section, PlanWrites(file, section, writes), writes);
}

}  // namespace

bool IsIniBlank(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n' || c == '\x1A';
}

std::string ReadIniValue(std::string_view content, std::string_view section, std::string_view key,
                         std::string_view defaultValue) {
  FileParts file = SplitFile(content);
  if (file.encoding == Encoding::kUtf16BigEndian) return std::string(defaultValue);
  key = Trim(key);
  std::optional<std::string> found;
  WalkSection(file, section, [&](size_t, const Line& line) {
    std::string_view lineKey;
    size_t afterEquals = 0;
    if (!KeyOfLine(line.text, lineKey, afterEquals) || !NamesMatch(lineKey, key)) return true;
    std::string_view value = ReadValue(line.text.substr(afterEquals));
    // A UTF-8 file's values are converted, as Wine's profile read does: a URL stored in UTF-8
    // can then be read.
    found = file.encoding == Encoding::kUtf8 ? platform::Utf8ToAnsi(value) : std::string(value);
    return false;
  });
  return found ? *std::move(found) : std::string(defaultValue);
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
  return ApplyWrites(content, section, KeyValueWriteSet(writes));
}

std::string ApplyIniList(std::string_view content, std::string_view section,
                         const OrderedList& list) {
  return ApplyWrites(content, section, ListWriteSet(list));
}
