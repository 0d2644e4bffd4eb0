// What the platform files of both systems share: UTF-8 decoding and the order of a folder
// listing (unicode.cpp, listing_order.cpp), and what each system's file gives the console's
// pending text (console.cpp). Only the files of platform/ include this header.
// Threads: every function may run on several threads at once, but for the console's, which
// console.cpp calls under its lock.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace platform {

// Length of the UTF-8 sequence that starts `text` as its lead byte announces it, when `text` holds
// it and its continuation bytes are there; 1 otherwise, so that each stray byte stands alone.
size_t Utf8SequenceLength(std::string_view text);

// The code point of one whole sequence as Utf8SequenceLength delimits it; false for a stray byte,
// an overlong form, a surrogate or a code point beyond U+10FFFF.
bool DecodeUtf8Sequence(std::string_view sequence, char32_t& code);

// The UTF-16 units of `code`, appended to `units`.
void AppendUtf16(char32_t code, std::u16string& units);

// UTF-16 units of UTF-8 text; each byte that is not part of a valid sequence becomes U+FFFD, as
// the Windows listing shows it.
std::u16string Utf8ToUtf16Lossy(std::string_view utf8);

// UTF-16 units as bytes, high byte first, so that comparing the bytes compares the units.
std::string UnitOrderKey(std::u16string_view units);

// One entry of a folder as the system lists it, before the listing is put in order.
struct ListedName {
  std::string upper;     // the name upper-cased as NTFS does it, as its UnitOrderKey
  std::u16string units;  // the name itself
  std::string native;  // the name's bytes on a system whose names are bytes; ties are broken by it
  unsigned type = 0;   // what the system tells of the entry's kind
  std::uint64_t index = 0;  // the file's number on its volume, as the listing gives it
};

struct OrderedName {
  const ListedName* name;
  bool hasCaseTwin;  // another name is equal to it after upper-casing
};

// `names` in the order NTFS lists them: by upper-cased UTF-16 units, then by the units
// themselves (uppercase first), then by the native bytes.
std::vector<OrderedName> InNtfsOrder(const std::vector<ListedName>& names);

// From this many names on, a listing makes its entries on two threads.
inline constexpr size_t kNamesWorthAThread = 4096;

// The listing's entries "." and ".." followed by one entry per name, in the order NTFS lists
// them, made by `toEntry`; names equal after upper-casing are marked as twins. The entries are
// made in the order of `names`, where their texts lie one after the other, and then moved into
// order: a listing of many names costs a cache miss or two per name, not one per text. `toEntry`
// runs on two threads at once for a listing of kNamesWorthAThread names or more.
template <typename ToEntry>
std::vector<DirEntry> OrderedListing(const std::vector<ListedName>& names, ToEntry toEntry) {
  std::vector<DirEntry> made(names.size());
  auto make = [&](size_t begin, size_t end) {
    for (size_t i = begin; i < end; ++i) made[i] = toEntry(names[i]);
  };
  // The first half is made on a thread of its own when the system gives one: converting the
  // names takes much of a large listing's time, and the other core has nothing to do yet.
  const size_t half = names.size() >= kNamesWorthAThread ? names.size() / 2 : 0;
  std::thread helper;
  try {
    if (half > 0) helper = std::thread(make, 0, half);
  } catch (const std::system_error&) {
  }
  make(helper.joinable() ? half : 0, names.size());
  if (helper.joinable()) helper.join();
  std::vector<DirEntry> entries;
  entries.reserve(names.size() + 2);
  entries.push_back({".", true, true, false, {}});
  entries.push_back({"..", true, true, false, {}});
  for (const OrderedName& ordered : InNtfsOrder(names)) {
    entries.push_back(std::move(made[static_cast<size_t>(ordered.name - names.data())]));
    entries.back().hasCaseTwin = ordered.hasCaseTwin;
  }
  return entries;
}

// ---- Console: each system's file

// True when standard output is a terminal or a console window, where a person watches the run.
bool ConsoleIsWatched();

// Appends `text` (code page 936) to `pending` in the form standard output takes it: as it is
// redirected, with each LF as CR LF on Windows; converted for a terminal or a console window.
void AppendConsoleForm(std::string_view text, std::string& pending);

// Writes `pending`, made by AppendConsoleForm, whole to standard output; false when that failed.
bool WriteConsoleBytes(std::string_view pending);

}  // namespace platform
