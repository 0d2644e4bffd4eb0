// Threads: the writer belongs to one thread, the scan's; it prints to the console. It sorts the
// update list on a thread of its own while it sorts the client list.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "inilist/xini_file.h"
#include "platform/platform.h"

// The names of the two list files in a release folder.
inline constexpr char kUpdateIniName[] = "update_file.ini";
inline constexpr char kClientIniName[] = "client.ini";

// How a folder spells one of the names the tool knows. Windows finds such a name in any letter
// case; so do both builds.
struct SpelledName {
  std::string name;      // as the folder spells it; the name itself when the folder lacks it
  bool several = false;  // several entries match (only where letter case counts): touch none
  std::optional<platform::FileId> id;  // the file the matching entry leads to, where known
};

// The spelling of `knownName` among `entries`, a listing.
SpelledName SpellingInListing(const std::vector<platform::DirEntry>& entries,
                              std::string_view knownName);

// The run's owner of the two INI targets and the two lists written into them: update_file.ini
// lists "name|digest" -> "url/client/name", client.ini lists "name" -> "digest".
//
// The lists may be written after every file or only when needed: before the scan reads a file
// that the writes may change (MayChange) and when the scan ends. Both give the same files on
// disk, because nothing but the run's own digest of such a file can see them in between.
class CFileListWriter {
 public:
  explicit CFileListWriter(bool writeAfterEveryFile = false)
      : m_WriteAfterEveryFile(writeAfterEveryFile) {}

  // Prints the opening text and takes the folder whose update_file.ini and client.ini it writes,
  // which must stay open as long as the writer. Returns 0 when `folder` is not open.
  int InitPaths(const platform::Folder& folder);

  // Takes the spellings of the two list files in the folder's listing, before the first file is
  // added. A list file spelled several ways is never written, and nor is the update list when
  // client.ini is; the scan tells why.
  void UseSpellings(const SpelledName& updateIni, const SpelledName& clientIni);

  // Adds one file to both lists: `name` -> `digestHex` to the client list, `name|digestHex` ->
  // `URL/client/name` to the update list; a name already listed keeps its entries. The server
  // URL is read from client.ini when the first file is added; the run's own writes never change
  // it. Without a URL (no client.ini, no [updateserver] section, an empty URL, a client.ini that
  // cannot be read) no address can be formed: update_file.ini is then not written in this run,
  // and reported. Writes the lists at once when they are written after every file. Returns 0
  // when a write failed.
  int AddFile(const std::string& name, const std::string& digestHex);

  // True when writing the lists may change what reading `entry` of the folder gives. The lists
  // are replaced, never written in place (a link followed to its target), so a write changes
  // only what the list files' names show: the entries of those names in any case, links to
  // them, the file an INI name that is a link leads to, and any entry whose file cannot be told
  // apart from them. A hard link keeps the old content, but counts too: on Windows a file held
  // open by a digest thread could not be replaced. Only the listing is consulted.
  bool MayChange(const platform::DirEntry& entry) const;

  // Writes changed lists first when MayChange(entry), so that reading it gives what writing
  // after every file would have left there. Returns 0 when a write failed.
  int WriteBeforeReading(const platform::DirEntry& entry);

  // Writes both lists if they changed since their last write. Prints "写入%s失败" the first time
  // a file cannot be written. Returns 0 when a write failed.
  int WriteChangedLists();

 private:
  // Sorts both lists, the update list on a thread of its own.
  void PutBothListsInOrder();
  // Writes `list` unless it is not `usable`; reports the first failure unless `told`.
  int WriteOneList(CXIniFile& target, const OrderedList& list, bool usable, bool& told);
  // The server URL of client.ini, read once; null when there is none to form addresses with.
  const std::string* ServerUrl();

  CXIniFile m_UpdateIni;
  CXIniFile m_ClientIni;
  OrderedList m_UpdateList;
  OrderedList m_ClientList;
  // Where an update list entry is put together; kept, so that a file costs no allocation.
  std::string m_UpdateKey;
  std::string m_UpdateValue;

  bool m_WriteAfterEveryFile;
  bool m_ListsChanged = false;
  bool m_UpdateIniSeveral = false;
  bool m_ClientIniSeveral = false;
  std::optional<platform::FileId> m_UpdateIniId;
  std::optional<platform::FileId> m_ClientIniId;
  bool m_UrlRead = false;
  bool m_UrlKnown = false;
  std::string m_Url;
  // A failure is told once; a list file spelled several ways was told of by the scan.
  bool m_UpdateFailureTold = false;
  bool m_ClientFailureTold = false;
};
