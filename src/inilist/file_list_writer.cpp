#include "inilist/file_list_writer.h"

#include <system_error>
#include <thread>

#include "inilist/ini_store.h"
#include "texts/console_texts.h"

SpelledName SpellingInListing(const std::vector<platform::DirEntry>& entries,
                              std::string_view knownName) {
  SpelledName spelled;
  spelled.name = knownName;
  bool found = false;
  for (const platform::DirEntry& entry : entries) {
    if (!platform::EqualIgnoringCase(entry.name, knownName)) continue;
    if (found) {
      spelled.several = true;
      break;
    }
    found = true;
    spelled.name = entry.name;
    spelled.id = entry.id;
  }
  return spelled;
}

int CFileListWriter::InitPaths(const platform::Folder& folder) {
  platform::PrintText("%s", texts::kInitializing);
  if (!folder.IsOpen()) return 0;
  m_UpdateIni = {&folder, kUpdateIniName};
  m_ClientIni = {&folder, kClientIniName};
  return 1;
}

void CFileListWriter::UseSpellings(const SpelledName& updateIni, const SpelledName& clientIni) {
  m_UpdateIni.m_FileName = updateIni.name;
  m_ClientIni.m_FileName = clientIni.name;
  m_UpdateIniSeveral = m_UpdateFailureTold = updateIni.several;
  m_ClientIniSeveral = m_ClientFailureTold = clientIni.several;
  m_UpdateIniId = updateIni.id;
  m_ClientIniId = clientIni.id;
}

const std::string* CFileListWriter::ServerUrl() {
  if (!m_UrlRead) {
    m_UrlRead = true;
    m_UrlKnown = !m_ClientIniSeveral &&
                 ReadIniFileValue(*m_ClientIni.m_Folder, m_ClientIni.m_FileName, "updateserver",
                                  "URL", "", m_Url) &&
                 !m_Url.empty();
  }
  return m_UrlKnown ? &m_Url : nullptr;
}

int CFileListWriter::AddFile(const std::string& name, const std::string& digestHex) {
  m_ClientList.Insert(name, digestHex);
  if (const std::string* url = ServerUrl()) {
    m_UpdateKey.assign(name).append("|").append(digestHex);
    m_UpdateValue.assign(*url).append("/client/").append(name);
    m_UpdateList.Insert(m_UpdateKey, m_UpdateValue);
  }
  m_ListsChanged = true;
  return m_WriteAfterEveryFile ? WriteChangedLists() : 1;
}

bool CFileListWriter::MayChange(const platform::DirEntry& entry) const {
  if (platform::EqualIgnoringCase(entry.name, kUpdateIniName) ||
      platform::EqualIgnoringCase(entry.name, kClientIniName) || !entry.id) {
    return true;
  }
  return entry.id == m_UpdateIniId || entry.id == m_ClientIniId;
}

int CFileListWriter::WriteBeforeReading(const platform::DirEntry& entry) {
  if (!m_ListsChanged || !MayChange(entry)) return 1;
  return WriteChangedLists();
}

int CFileListWriter::WriteChangedLists() {
  if (!m_ListsChanged) return 1;
  m_ListsChanged = false;
  // Addresses without their server would send every client to the wrong place.
  bool updateUsable = !m_UpdateIniSeveral && ServerUrl() != nullptr;
  PutBothListsInOrder();
  // update_file.ini first: a run stopped between the two leaves client.ini as it was.
  int updateWritten = WriteOneList(m_UpdateIni, m_UpdateList, updateUsable, m_UpdateFailureTold);
  int clientWritten =
      WriteOneList(m_ClientIni, m_ClientList, !m_ClientIniSeveral, m_ClientFailureTold);
  return updateWritten && clientWritten;
}

void CFileListWriter::PutBothListsInOrder() {
  // The update list on a thread of its own when the system gives one: sorting a list of many
  // files takes a while, and after the last file the other core is free.
  std::thread updateSorter;
  try {
    updateSorter = std::thread([this] { m_UpdateList.Entries(); });
  } catch (const std::system_error&) {
  }
  m_ClientList.Entries();
  if (updateSorter.joinable()) updateSorter.join();
}

int CFileListWriter::WriteOneList(CXIniFile& target, const OrderedList& list, bool usable,
                                  bool& told) {
  if (usable && target.WriteList(list)) return 1;
  if (!told) {
    platform::PrintText(texts::kWriteFailed, target.Path().c_str());
    told = true;
  }
  return 0;
}
