#include "inilist/xini_file.h"

#include <functional>

#include "inilist/ini_store.h"
#include "platform/platform.h"

namespace {

constexpr std::string_view kListSection = "file";

// Applies `write` to the file's text in one read-modify-write. A file that exists but cannot be
// read is not written: its other content could not be kept. Nor is text the store does not
// write.
int WriteText(const CXIniFile& file,
              const std::function<std::string(std::string_view content)>& write) {
  std::string content;
  platform::ReadResult read = platform::ReadWholeFile(*file.m_Folder, file.m_FileName, content);
  if (read != platform::ReadResult::kOk && read != platform::ReadResult::kMissing) return 0;
  if (!IsIniWritable(content)) return 0;
  std::string updated = write(content);
  // A write that changes nothing leaves the file untouched, as the profile write does.
  if (read == platform::ReadResult::kOk && updated == content) return 1;
  return platform::ReplaceFileAtomically(*file.m_Folder, file.m_FileName, updated) ? 1 : 0;
}

}  // namespace

int CXIniFile::WriteInteger(std::string_view key, int value) {
  return WriteText(*this, [&](std::string_view content) {
    return ApplyIniWrites(content, kListSection, {{std::string(key), std::to_string(value)}});
  });
}

int CXIniFile::WriteList(const OrderedList& list) {
  return WriteText(
      *this, [&](std::string_view content) { return ApplyIniList(content, kListSection, list); });
}
