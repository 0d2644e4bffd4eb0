#include "app/scan.h"

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <system_error>
#include <thread>
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

// An entry that passed the skip rules, in listing order, and what digesting it gave.
struct ScannedFile {
  const platform::DirEntry* entry = nullptr;
  std::string path;
  bool refused = false;   // the lists cannot carry its name
  bool ahead = false;     // the run's writes cannot change it: it may be digested before its turn
  bool digested = false;  // under the mutex of DigestAhead while that digests files
  bool read = false;
  unsigned char digest[kMd5DigestSize] = {};
};

// Digests the files marked `ahead` in listing order on a second thread, and on the scan's own
// thread while it waits for one, so that both cores read and digest while the scan prints and
// writes in listing order. `files` must not change while the object exists.
class DigestAhead {
 public:
  explicit DigestAhead(std::vector<ScannedFile>& files) : m_Files(files) {
    auto aheadCount = std::count_if(files.begin(), files.end(),
                                    [](const ScannedFile& file) { return file.ahead; });
    if (aheadCount < 2 || std::thread::hardware_concurrency() < 2) return;
    try {
      m_Worker = std::thread([this] {
        while (DigestNext()) {
        }
      });
    } catch (const std::system_error&) {
      // No second thread to be had: Await digests every file on the scan's thread.
    }
  }
  DigestAhead(const DigestAhead&) = delete;
  DigestAhead& operator=(const DigestAhead&) = delete;
  ~DigestAhead() {
    if (m_Worker.joinable()) m_Worker.join();
  }

  // Returns once `file`, one of the files marked `ahead`, is digested; digests the next files on
  // this thread meanwhile.
  void Await(const ScannedFile& file) {
    std::unique_lock lock(m_Mutex);
    while (!file.digested) {
      if (FirstUnclaimed() < m_Files.size()) {
        lock.unlock();
        DigestNext();
        lock.lock();
      } else {
        m_Digested.wait(lock);
      }
    }
  }

 private:
  // The first file marked `ahead` that no thread has taken yet, or m_Files.size(). Needs the lock.
  size_t FirstUnclaimed() {
    while (m_NextClaim < m_Files.size() && !m_Files[m_NextClaim].ahead) ++m_NextClaim;
    return m_NextClaim;
  }

  // Takes the first unclaimed file and digests it. Returns false when none was left.
  bool DigestNext() {
    size_t index;
    {
      std::lock_guard lock(m_Mutex);
      index = FirstUnclaimed();
      if (index == m_Files.size()) return false;
      ++m_NextClaim;
    }
    // Only this thread touches the file's digest until it is marked digested.
    ScannedFile& file = m_Files[index];
    bool read = DigestFile(file.path, file.digest) == 1;
    {
      std::lock_guard lock(m_Mutex);
      file.read = read;
      file.digested = true;
    }
    m_Digested.notify_one();
    return true;
  }

  std::vector<ScannedFile>& m_Files;
  std::mutex m_Mutex;
  std::condition_variable m_Digested;
  size_t m_NextClaim = 0;
  std::thread m_Worker;
};

}  // namespace

bool IsSkippedName(std::string_view name) {
  return (!name.empty() && name.front() == '.') || platform::NamesEqual(name, "..") ||
         platform::NamesEqual(name, "update_file.ini") ||
         platform::NamesEqual(name, "Tabulon.exe") || platform::NamesEqual(name, "Patchwell.exe");
}

bool IsListableName(std::string_view name) {
  if (name.empty() || IsProfileBlank(name.front()) || IsProfileBlank(name.back())) return false;
  // A value wrapped in matching quotes is read back without them.
  if (name.size() >= 2 && (name.front() == '"' || name.front() == '\'') &&
      name.back() == name.front()) {
    return false;
  }
  // Windows drops a trailing dot, and refuses control characters and these (0x5C and 0x7C are
  // also second bytes of double-byte characters, so the walk goes by characters).
  if (name.back() == '.') return false;
  for (size_t i = 0; i < name.size(); ++i) {
    auto byte = static_cast<unsigned char>(name[i]);
    if (platform::IsLeadByte(byte)) {
      ++i;
    } else if (byte < 0x20 ||
               std::string_view("<>:\"/\\|?*").find(name[i]) != std::string_view::npos) {
      return false;
    }
  }
  // Device names, alone or before an extension, open a device on Windows, not a file.
  std::string stem(name.substr(0, name.find('.')));
  for (char& c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL") return false;
  bool numberedPort = stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) &&
                      stem[3] >= '1' && stem[3] <= '9';
  return !numberedPort;
}

int BuildFileLists(CFileListWriter& writer, int& failures, bool digestAhead) {
  std::string folder = ModuleDirectory();
  std::vector<platform::DirEntry> entries;
  bool listed = platform::ListDirectory(folder, entries);
  std::fputs(texts::kSearchStarted, stdout);
  if (!listed) return 0;

  std::vector<ScannedFile> files;
  for (const platform::DirEntry& entry : entries) {
    // A folder is no release file: it is passed over like a skipped name.
    if (IsSkippedName(entry.name) || entry.isDirectory) continue;
    ScannedFile& file = files.emplace_back();
    file.entry = &entry;
    file.path = folder + entry.name;
    file.refused = !entry.nameExact || !IsListableName(entry.name);
    // Asked before the first write, as MayNameListFile requires.
    file.ahead = digestAhead && !file.refused && !writer.MayNameListFile(file.path);
  }

  DigestAhead digester(files);
  ServerUrl serverUrl;
  int fileCount = 0;
  for (ScannedFile& file : files) {
    const std::string& name = file.entry->name;
    ++fileCount;
    std::printf(texts::kFileStarted, fileCount, file.path.c_str());

    if (file.refused) {
      std::printf(texts::kNameRefused, name.c_str());
      ++failures;
      continue;
    }

    if (file.ahead) {
      digester.Await(file);
    } else {
      if (!writer.WriteBeforeReading(file.path)) ++failures;
      file.read = DigestFile(file.path, file.digest) == 1;
    }
    if (!file.read) {
      std::printf(texts::kFileUnreadable, name.c_str());
      ++failures;
      continue;
    }
    std::string digestHex = FormatDigestHex(file.digest);
    const std::string& url = serverUrl.Get(writer.m_ClientIni.m_FilePath);

    writer.m_ClientList.emplace(name, digestHex);
    writer.m_UpdateList.emplace(name + "|" + digestHex, url + "/client/" + name);
    if (!writer.ListsChanged()) ++failures;
    std::printf(texts::kFileDone, name.c_str(), digestHex.c_str());
  }
  if (!writer.WriteChangedLists()) ++failures;
  return 1;
}
