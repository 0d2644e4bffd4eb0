#include "inilist/file_list_writer.h"

#include "texts/console_texts.h"

namespace {

std::optional<platform::FileId> IdOf(const std::string& path) {
  platform::FileId id;
  if (!platform::GetFileId(path, id)) return std::nullopt;
  return id;
}

}  // namespace

int CFileListWriter::InitPaths(const std::string& folder) {
  platform::PrintText("%s", texts::kInitializing);
  if (folder.empty()) return 0;
  m_UpdateIni.m_FilePath = folder + kUpdateIniName;
  m_ClientIni.m_FilePath = folder + kClientIniName;
  return 1;
}

int CFileListWriter::AddFile(const std::string& name, const std::string& digestHex,
                             const std::string* serverUrl) {
  // The listing order is mostly the lists' order too: the end is the place to look first.
  m_ClientList.emplace_hint(m_ClientList.end(), name, digestHex);
  if (serverUrl == nullptr) {
    m_UpdateListUnusable = true;
  } else {
    m_UpdateList.emplace_hint(m_UpdateList.end(), name + "|" + digestHex,
                              *serverUrl + "/client/" + name);
  }
  m_ListsChanged = true;
  return m_WriteAfterEveryFile ? WriteChangedLists() : 1;
}

bool CFileListWriter::MayNameListFile(const std::string& path,
                                      const std::optional<platform::FileId>& knownId) {
  // The INI files change only when they are written, so one query per file read suffices.
  if (!m_IniIdsCurrent) {
    m_UpdateIniId = IdOf(m_UpdateIni.m_FilePath);
    m_ClientIniId = IdOf(m_ClientIni.m_FilePath);
    m_IniIdsCurrent = true;
  }
  std::optional<platform::FileId> id = knownId ? knownId : IdOf(path);
  return !id || id == m_UpdateIniId || id == m_ClientIniId;
}

int CFileListWriter::WriteBeforeReading(const std::string& path) {
  if (!m_ListsChanged || !MayNameListFile(path)) return 1;
  return WriteChangedLists();
}

int CFileListWriter::WriteChangedLists() {
  if (!m_ListsChanged) return 1;
  m_ListsChanged = false;
  m_IniIdsCurrent = false;
  // Addresses without their server would send every client to the wrong place.
  int updateWritten =
      WriteOneList(m_UpdateIni, m_UpdateList, !m_UpdateListUnusable, m_UpdateFailureReported);
  int clientWritten = WriteOneList(m_ClientIni, m_ClientList, true, m_ClientFailureReported);
  return updateWritten && clientWritten;
}

int CFileListWriter::WriteOneList(CXIniFile& target, const OrderedList& list, bool usable,
                                  bool& failureReported) {
  if (usable && target.WriteList(list)) return 1;
  if (!failureReported) {
    platform::PrintText(texts::kWriteFailed, target.m_FilePath.c_str());
    failureReported = true;
  }
  return 0;
}
