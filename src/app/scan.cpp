#include "app/scan.h"

#include <vector>

#include "app/name_rules.h"
#include "digest/digest_file.h"
#include "digest/digest_queue.h"
#include "inilist/ini_store.h"
#include "texts/console_texts.h"
#include "platform/platform.h"

namespace {

// The server URL from client.ini, read when the first file is listed. The run's own writes
// change only the section "file" of client.ini, never the URL, so it is not read again for every
// file. Unknown when client.ini is there but cannot be read: no address can be formed then.
class ServerUrl {
 public:
  const std::string* Get(const std::string& clientIniPath) {
    if (!m_Read) {
      m_Known = ReadIniFileValue(clientIniPath, "updateserver", "URL", "", m_Url);
      m_Read = true;
    }
    return m_Known ? &m_Url : nullptr;
  }

 private:
  bool m_Read = false;
  bool m_Known = false;
  std::string m_Url;
};

// An entry that passed the skip rules, in listing order.
struct ScannedFile {
  const std::string* name = nullptr;
  std::string path;
  bool refused = false;  // the lists cannot carry its name
  bool ahead = false;    // the run's writes cannot change it: it may be digested before its turn
};

// The entries of the listing that pass the skip rules, in listing order; `aheadPaths` gets the
// paths of those that may be digested ahead. Asked before the first write, as MayNameListFile
// requires.
std::vector<ScannedFile> FilesToList(const std::vector<platform::DirEntry>& entries,
                                     const std::string& folder, CFileListWriter& writer,
                                     std::vector<std::string>& aheadPaths) {
  std::vector<ScannedFile> files;
  for (const platform::DirEntry& entry : entries) {
    // A folder is no release file: it is passed over like a skipped name.
    if (IsSkippedName(entry.name) || entry.isDirectory) continue;
    ScannedFile& file = files.emplace_back();
    file.name = &entry.name;
    file.path = folder + entry.name;
    file.refused = !entry.nameExact || !IsListableName(entry.name);
    file.ahead = !file.refused && !writer.MayNameListFile(file.path, entry.id);
    if (file.ahead) aheadPaths.push_back(file.path);
  }
  return files;
}

}  // namespace

int BuildFileLists(CFileListWriter& writer, const std::string& folder, const DigestPlan& digesting,
                   int& failures) {
  std::vector<platform::DirEntry> entries;
  bool listed = platform::ListDirectory(folder, entries);
  platform::PrintText("%s", texts::kSearchStarted);
  if (!listed) return 0;

  std::vector<std::string> aheadPaths;
  const std::vector<ScannedFile> files = FilesToList(entries, folder, writer, aheadPaths);
  CDigestQueue digests(std::move(aheadPaths), digesting.workers, digesting.level);
  ServerUrl serverUrl;
  int fileCount = 0;
  for (const ScannedFile& file : files) {
    const std::string& name = *file.name;
    platform::PrintText(texts::kFileStarted, ++fileCount, file.path.c_str());
    if (file.refused) {
      platform::PrintText(texts::kNameRefused, name.c_str());
      ++failures;
      continue;
    }

    FileDigest digest;
    if (file.ahead) {
      digest = digests.Next();
    } else {
      if (!writer.WriteBeforeReading(file.path)) ++failures;
      digest.read = DigestFile(file.path, digest.digest) == 1;
    }
    if (!digest.read) {
      platform::PrintText(texts::kFileUnreadable, name.c_str());
      ++failures;
      continue;
    }
    std::string digestHex = FormatDigestHex(digest.digest);
    if (!writer.AddFile(name, digestHex, serverUrl.Get(writer.ClientIniPath()))) ++failures;
    platform::PrintText(texts::kFileDone, name.c_str(), digestHex.c_str());
  }
  if (!writer.WriteChangedLists()) ++failures;
  return 1;
}
