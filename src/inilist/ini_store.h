// The project's own INI store: reads values the way the Windows profile read does and writes
// keys while keeping every byte of the lines it does not change. Both builds use this code, so
// both write the same bytes.
//
// Encodings, told by the first bytes of the file as the profile functions tell them:
// - no byte-order mark: text in the ANSI code page (code page 936), read and written as it is;
// - UTF-8 mark (EF BB BF): skipped when reading, and values read are converted from UTF-8 to the
//   ANSI code page; written text is ANSI, unconverted, as for a file without a mark;
// - UTF-16 LE mark (FF FE), a file of the mark alone included: UTF-16 LE throughout. Every line
//   is parsed as its text converted to the ANSI code page (a character without an exact form
//   there reads as '?'), and new text is written in UTF-16 LE. An odd last byte belongs to no
//   character: it is ignored when reading and stays the file's last byte when writing;
// - UTF-16 BE mark (FE FF), which the profile functions do not read as UTF-16: reading gives the
//   default, as for an unreadable file, and the file is never written (IsIniWritable).
//
// Threads: every function may run on several threads at once; they keep no state between calls.
// ApplyIniList reads its list, which may put itself in order: a list belongs to one thread.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "inilist/ordered_list.h"
#include "platform/platform.h"

// The value of `key` in `section` of INI text `content`, read as the Windows profile read does:
// section and key names match case-insensitively (ASCII letters only), blanks around names and
// values are trimmed, one pair of matching surrounding quotes is stripped, the value ends at a
// NUL, and only the first section of a name and its first matching key count. CR LF, LF and CR
// line ends all count. Returns `defaultValue` when the section or key is absent, and for
// UTF-16 BE text.
std::string ReadIniValue(std::string_view content, std::string_view section, std::string_view key,
                         std::string_view defaultValue);

// The same for the file `name` of `folder` into `value`; `defaultValue` also when the file is
// missing. Returns false, with `value` set to `defaultValue`, when the file is there but cannot
// be read (or changed while it was read): then its value is unknown, not absent.
bool ReadIniFileValue(const platform::Folder& folder, const std::string& name,
                      std::string_view section, std::string_view key, std::string_view defaultValue,
                      std::string& value);

// True for the characters the profile read trims around names and values: blanks, CR, LF and
// Ctrl+Z.
bool IsIniBlank(char c);

// False for UTF-16 BE text: the profile functions do not read it as UTF-16, so no line added
// to it, in whatever encoding, would read back.
bool IsIniWritable(std::string_view content);

using KeyValueWrites = std::vector<std::pair<std::string, std::string>>;

// Applies `writes`, in order, to section `section` of INI text `content` as a sequence of
// profile writes would: a key present in the first matching section gets its new value where it
// stands (the text up to the value is kept); a key not present is added after the section's
// last non-blank line; a missing section is added at the end. Lines that are not changed keep
// every byte, their line ends included. Added lines end in CR LF. New text is in the file's
// encoding (see above); text that IsIniWritable refuses comes back unchanged. Costs time in
// proportion to the text and the writes, and memory for the result and a hash of the writes'
// keys.
std::string ApplyIniWrites(std::string_view content, std::string_view section,
                           const KeyValueWrites& writes);

// What ApplyIniWrites gives for the writes of `list` as a numbered list: "value_count" with the
// number of entries, then "value_key<i>" with the key and "value_<i>" with the value of each
// entry i in key order, the index in decimal without leading zeros. Tells the keys of the list
// in the file by their form, without a table of them: for lists of any length it costs time in
// proportion to the text and the list, and memory for the result and a bit per key written.
std::string ApplyIniList(std::string_view content, std::string_view section,
                         const OrderedList& list);
