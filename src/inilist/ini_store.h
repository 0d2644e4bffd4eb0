// The project's own INI store: reads values the way the Windows profile read does and writes
// keys while keeping every byte of the lines it does not change. Both builds use this code, so
// both write the same bytes.
//
// Threads: every function may run on several threads at once; they keep no state between calls.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The value of `key` in `section` of INI text `content`, read as the Windows profile read does:
// section and key names match case-insensitively (ASCII letters only), blanks around names and
// values are trimmed, one pair of matching surrounding quotes is stripped, the value ends at a
// NUL, and only the first section of a name and its first matching key count. CR LF, LF and CR
// line ends all count. A UTF-8 byte-order mark is skipped and the value converted to the ANSI
// code page. Returns `defaultValue` when the section or key is absent.
std::string ReadIniValue(std::string_view content, std::string_view section, std::string_view key,
                         std::string_view defaultValue);

// The same for the file at `path`; `defaultValue` also when the file is missing or unreadable.
std::string ReadIniFileValue(const std::string& path, std::string_view section,
                             std::string_view key, std::string_view defaultValue);

// True for the characters the profile read trims around names and values: blanks, CR, LF and
// Ctrl+Z.
bool IsIniBlank(char c);

using KeyValueWrites = std::vector<std::pair<std::string, std::string>>;

// Applies `writes`, in order, to section `section` of INI text `content` as a sequence of
// profile writes would: a key present in the first matching section gets its new value where it
// stands (the text up to the value is kept); a key not present is added after the section's
// last non-blank line; a missing section is added at the end. Lines that are not changed keep
// every byte, their line ends included. Added lines end in CR LF. A file with a UTF-8 byte-order
// mark gets its new text in UTF-8.
std::string ApplyIniWrites(std::string_view content, std::string_view section,
                           const KeyValueWrites& writes);
