// Threads: a CXIniFile belongs to one thread at a time; two objects of the same path must not
// write at once.
#pragma once

#include <string>
#include <string_view>

#include "inilist/ordered_list.h"
#include "platform/platform.h"

// One INI file of the run, the file `m_FileName` of the folder `m_Folder`, written into its
// section "file". The folder must stay open as long as the object writes.
class CXIniFile {
 public:
  // Writes the decimal text of `value` under `key` in section "file". Returns 1, or 0 when the
  // file could not be written (it is then left as it was).
  int WriteInteger(std::string_view key, int value);

  // Writes `list` into section "file" as value_count, then value_key<i> and value_<i> for each
  // entry in key order, in one atomic replace of the file. Keys of a former, longer list stay.
  // Costs time in proportion to the file and the list, whatever their length.
  // Returns 1, or 0 when the file could not be read or written or holds text the INI store does
  // not write (IsIniWritable); it is then left as it was.
  int WriteList(const OrderedList& list);

  // The file's path as the console shows it.
  std::string Path() const { return m_Folder->PathOf(m_FileName); }

  const platform::Folder* m_Folder = nullptr;
  std::string m_FileName;
};
