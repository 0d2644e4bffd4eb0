#include "inilist/xini_file.h"

#include "inilist/ini_store.h"
#include "platform/platform.h"

namespace {

constexpr std::string_view kListSection = "file";

// Applies the writes to the file in one read-modify-write. A file that exists but cannot be read
// is not written: its other content could not be kept. Nor is text the store does not write.
int WriteKeys(const CXIniFile& file, const KeyValueWrites& writes) {
  std::string content;
  platform::ReadResult read = platform::ReadWholeFile(*file.m_Folder, file.m_FileName, content);
  if (read != platform::ReadResult::kOk && read != platform::ReadResult::kMissing) return 0;
  if (!IsIniWritable(content)) return 0;
  std::string updated = ApplyIniWrites(content, kListSection, writes);
  // A write that changes nothing leaves the file untouched, as the profile write does.
  if (read == platform::ReadResult::kOk && updated == content) return 1;
  return platform::ReplaceFileAtomically(*file.m_Folder, file.m_FileName, updated) ? 1 : 0;
}

}  // namespace

bool MultibyteLess::operator()(std::string_view a, std::string_view b) const {
  return platform::CompareMultibyte(a, b) < 0;
}

int CXIniFile::WriteInteger(std::string_view key, int value) {
  return WriteKeys(*this, {{std::string(key), std::to_string(value)}});
}

int CXIniFile::WriteList(const OrderedList& list) {
  KeyValueWrites writes;
  writes.reserve(2 * list.size() + 1);
  writes.emplace_back("value_count", std::to_string(list.size()));
  size_t index = 0;
  for (const auto& [key, value] : list) {
    std::string suffix = std::to_string(index++);
    writes.emplace_back("value_key" + suffix, key);
    writes.emplace_back("value_" + suffix, value);
  }
  return WriteKeys(*this, writes);
}
