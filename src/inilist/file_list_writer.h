// Threads: the writer belongs to one thread, the scan's; it prints to the console.
#pragma once

#include <optional>
#include <string>

#include "inilist/xini_file.h"
#include "platform/platform.h"

// The names of the two list files in a release folder.
inline constexpr char kUpdateIniName[] = "update_file.ini";
inline constexpr char kClientIniName[] = "client.ini";

// The run's owner of the two INI targets and the two lists written into them: update_file.ini
// lists "name|digest" -> "url/client/name", client.ini lists "name" -> "digest".
//
// The lists may be written after every file or only when needed: before the scan reads one of
// the INI files itself and when the scan ends. Both give the same files on disk, because nothing
// but the run's own digest of an INI file can see them in between.
class CFileListWriter {
 public:
  explicit CFileListWriter(bool writeAfterEveryFile = false)
      : m_WriteAfterEveryFile(writeAfterEveryFile) {}

  // Prints the opening text and derives the paths of both INI files from `folder`, the
  // executable's folder ending in the path separator. Returns 0, with the paths left empty, when
  // `folder` is empty.
  int InitPaths(const std::string& folder);

  const std::string& ClientIniPath() const { return m_ClientIni.m_FilePath; }

  // Adds one file to both lists: `name` -> `digestHex` to the client list, `name|digestHex` ->
  // `serverUrl/client/name` to the update list; a name already listed keeps its entries. A null
  // `serverUrl` (client.ini could not be read) leaves no address to give: update_file.ini is then
  // not written in this run, and reported. Writes the lists at once when they are written after
  // every file. Returns 0 when a write failed.
  int AddFile(const std::string& name, const std::string& digestHex, const std::string* serverUrl);

  // True when writing the lists may change what reading `path` gives: it names one of the two
  // INI files, or shows no file that could be told apart from them (a link to an INI file not
  // written yet). `knownId`, when given, is the identity of the file at `path`. Asked before the
  // first write, the answer holds for the whole run: a write replaces an INI file and changes no
  // other file.
  bool MayNameListFile(const std::string& path,
                       const std::optional<platform::FileId>& knownId = std::nullopt);

  // Writes changed lists first when MayNameListFile(path), so that reading it gives what
  // writing after every file would have left there. Returns 0 when a write failed.
  int WriteBeforeReading(const std::string& path);

  // Writes both lists if they changed since their last write. Prints "写入%s失败" the first time
  // a file cannot be written. Returns 0 when a write failed.
  int WriteChangedLists();

 private:
  // Writes `list` unless it is not `usable`; reports the first failure.
  int WriteOneList(CXIniFile& target, const OrderedList& list, bool usable, bool& failureReported);

  CXIniFile m_UpdateIni;
  CXIniFile m_ClientIni;
  OrderedList m_UpdateList;
  OrderedList m_ClientList;

  bool m_WriteAfterEveryFile;
  bool m_ListsChanged = false;
  bool m_UpdateListUnusable = false;
  // The identities of both INI files as the last write left them; taken again after a write.
  bool m_IniIdsCurrent = false;
  std::optional<platform::FileId> m_UpdateIniId;
  std::optional<platform::FileId> m_ClientIniId;
  bool m_UpdateFailureReported = false;
  bool m_ClientFailureReported = false;
};
