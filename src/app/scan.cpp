#include "app/scan.h"

#include "app/name_rules.h"
#include "app/release_files.h"
#include "digest/digest_file.h"
#include "digest/digest_queue.h"
#include "platform/platform.h"
#include "texts/console_texts.h"

namespace {

// An entry that passed the skip rules, in listing order.
struct ScannedFile {
  const platform::DirEntry* entry = nullptr;
  bool refused = false;  // the lists cannot carry its name
  bool ahead = false;    // the run's writes cannot change it: it may be digested before its turn
};

// The entries of the listing that pass the skip rules, in listing order; `digested` gets those
// whose names the lists can carry.
std::vector<ScannedFile> FilesToList(const std::vector<platform::DirEntry>& entries,
                                     const std::string& executableName,
                                     const CFileListWriter& writer,
                                     std::vector<QueuedFile>& digested) {
  std::vector<ScannedFile> files;
  for (const platform::DirEntry& entry : entries) {
    // A folder is no release file: it is passed over like a skipped name.
    if (IsSkippedName(entry.name, executableName) || entry.isDirectory) continue;
    ScannedFile& file = files.emplace_back();
    file.entry = &entry;
    // Names equal but for case would be one file on a Windows client.
    file.refused = !entry.nameExact || entry.hasCaseTwin || !IsListableName(entry.name);
    if (file.refused) continue;
    file.ahead = !writer.MayChange(entry);
    digested.push_back({entry.name, file.ahead});
  }
  return files;
}

// Lists the folder and records every file in both lists of `writer`, writing the lists only where
// reading a file needs them on disk. Returns false when the listing could not start.
bool ScanFolder(CFileListWriter& writer, const ExecutableFolder& home, const DigestPlan& digesting,
                std::vector<ConfigFilePair>& configPairs, int& failures) {
  const platform::Folder& folder = home.folder;
  std::vector<platform::DirEntry> entries;
  bool listed = platform::ListDirectory(folder, entries);
  platform::PrintText("%s", texts::kSearchStarted);
  if (!listed) {
    platform::PrintText(texts::kFolderUnlistable, folder.Path().c_str());
    return false;
  }
  KnownSpellings spellings = SpellKnownNames(entries);
  failures += spellings.spelledSeveralWays;
  configPairs = std::move(spellings.configPairs);
  writer.UseSpellings(spellings.updateIni, spellings.clientIni);

  std::vector<QueuedFile> digested;
  const std::vector<ScannedFile> files =
      FilesToList(entries, home.executableName, writer, digested);
  CDigestQueue digests(folder, std::move(digested), digesting);
  int fileCount = 0;
  std::string path;  // each file's full path, in one buffer for the whole scan
  for (const ScannedFile& file : files) {
    const std::string& name = file.entry->name;
    path.assign(folder.Path()).append(name);
    platform::PrintText(texts::kFileStarted, ++fileCount, path.c_str());
    if (file.refused) {
      platform::PrintText(texts::kNameRefused, name.c_str());
      ++failures;
      continue;
    }
    if (!file.ahead && !writer.WriteBeforeReading(*file.entry)) ++failures;
    const FileDigest digest = digests.Next();
    if (!digest.read) {
      platform::PrintText(texts::kFileUnreadable, name.c_str());
      ++failures;
      continue;
    }
    std::string digestHex = FormatDigestHex(digest.digest);
    if (!writer.AddFile(name, digestHex)) ++failures;
    platform::PrintText(texts::kFileDone, name.c_str(), digestHex.c_str());
  }
  return true;
}

}  // namespace

int BuildFileLists(CFileListWriter& writer, const ExecutableFolder& home,
                   const DigestPlan& digesting, std::vector<ConfigFilePair>& configPairs,
                   int& failures) {
  if (!ScanFolder(writer, home, digesting, configPairs, failures)) return 0;
  // The listing and the digest queue are gone: the lists are written in the memory they held.
  platform::ReleaseFreedMemory();
  if (!writer.WriteChangedLists()) ++failures;
  return 1;
}
