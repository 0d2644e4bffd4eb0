#include "app/scan.h"

#include <cstdio>
#include <vector>

#include "app/console_texts.h"
#include "app/module_directory.h"
#include "digest/digest_file.h"
#include "inilist/ini_store.h"
#include "platform/platform.h"

namespace {

// The server URL from client.ini, read again only when that file changed.
class ServerUrl {
 public:
  const std::string& Get(const std::string& clientIniPath) {
    platform::FileStamp stamp = platform::GetFileStamp(clientIniPath);
    if (!m_Read || !(stamp == m_Stamp)) {
      m_Url = ReadProfileString(clientIniPath, "updateserver", "URL", "");
      m_Stamp = stamp;
      m_Read = true;
    }
    return m_Url;
  }

 private:
  bool m_Read = false;
  platform::FileStamp m_Stamp;
  std::string m_Url;
};

bool IsProfileBlank(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1A';
}

}  // namespace

bool IsSkippedName(std::string_view name) {
  return (!name.empty() && name.front() == '.') || platform::NamesEqual(name, "..") ||
         platform::NamesEqual(name, "update_file.ini") || platform::NamesEqual(name, "Tabulon.exe") ||
         platform::NamesEqual(name, "Patchwell.exe");
}

bool NameFitsIniValue(std::string_view name) {
  if (name.empty() || name.find_first_of("\r\n") != std::string_view::npos) return false;
  if (IsProfileBlank(name.front()) || IsProfileBlank(name.back())) return false;
  bool quoted = name.size() >= 2 && (name.front() == '"' || name.front() == '\'') &&
                name.back() == name.front();
  return !quoted;
}

int BuildFileLists(CFileListWriter& writer, int& failures) {
  std::string folder = ModuleDirectory();
  std::vector<platform::DirEntry> entries;
  bool listed = platform::ListDirectory(folder, entries);
  std::fputs(texts::kSearchStarted, stdout);
  if (!listed) return 0;

  ServerUrl serverUrl;
  int fileCount = 0;
  for (const platform::DirEntry& entry : entries) {
    // A folder is no release file: it is passed over like a skipped name.
    if (IsSkippedName(entry.name) || entry.isDirectory) continue;

    ++fileCount;
    std::string path = folder + entry.name;
    std::printf(texts::kFileStarted, fileCount, path.c_str());

    if (!entry.nameExact || !NameFitsIniValue(entry.name)) {
      std::printf(texts::kNameRefused, entry.name.c_str());
      ++failures;
      continue;
    }

    if (!writer.WriteBeforeReading(path)) ++failures;
    unsigned char digest[16] = {};
    if (!DigestFile(path, digest)) {
      std::printf(texts::kFileUnreadable, entry.name.c_str());
      ++failures;
      continue;
    }
    std::string digestHex = FormatDigestHex(digest);
    const std::string& url = serverUrl.Get(writer.m_ClientIni.m_FilePath);

    writer.m_ClientList.emplace(entry.name, digestHex);
    writer.m_UpdateList.emplace(entry.name + "|" + digestHex, url + "/client/" + entry.name);
    if (!writer.ListsChanged()) ++failures;
    std::printf(texts::kFileDone, entry.name.c_str(), digestHex.c_str());
  }
  if (!writer.WriteChangedLists()) ++failures;
  return 1;
}
