// Threads: the writer belongs to one thread, the scan's; it prints to the console.
#pragma once

#include <optional>
#include <string>

#include "inilist/xini_file.h"
#include "platform/platform.h"

// The run's owner of the two INI targets and the two lists written into them.
//
// The lists may be written after every file or only when needed: before the scan reads one of
// the INI files itself and when the scan ends. Both give the same files on disk, because nothing
// but the run's own digest of an INI file can see them in between.
class CFileListWriter {
 public:
  // Prints the opening text and derives the paths of update_file.ini and client.ini from the
  // executable's folder. Returns 0 when that folder cannot be had; the paths stay empty then.
  int InitPaths();

  // Records that the lists changed; writes them at once when m_WriteAfterEveryFile is set.
  // Returns 0 when a write failed.
  int ListsChanged();

  // True when writing the lists may change what reading `path` gives: it names one of the two
  // INI files, or shows no file that could be told apart from them (a link to an INI file not
  // written yet). Asked before the first write, the answer holds for the whole run: a write
  // replaces an INI file and changes no other file.
  bool MayNameListFile(const std::string& path);

  // Writes changed lists first when MayNameListFile(path), so that reading it gives what
  // writing after every file would have left there. Returns 0 when a write failed.
  int WriteBeforeReading(const std::string& path);

  // Writes both lists if they changed since their last write. Prints "写入%s失败" the first time
  // a file cannot be written. Returns 0 when a write failed.
  int WriteChangedLists();

  CXIniFile m_UpdateIni;
  CXIniFile m_ClientIni;
  OrderedList m_UpdateList;
  OrderedList m_ClientList;

  bool m_WriteAfterEveryFile = false;

 private:
  int WriteOneList(CXIniFile& target, const OrderedList& list, bool& failureReported);

  bool m_ListsChanged = false;
  // The identities of both INI files as the last write left them; taken again after a write.
  bool m_IniIdsCurrent = false;
  std::optional<platform::FileId> m_UpdateIniId;
  std::optional<platform::FileId> m_ClientIniId;
  bool m_UpdateFailureReported = false;
  bool m_ClientFailureReported = false;
};
