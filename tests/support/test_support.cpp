#include "support/test_support.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include "digest/digest_file.h"
#include "digest/md5.h"
#include "platform/platform.h"

namespace testing_support {

TempFolder::TempFolder() {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  m_Path = fs::temp_directory_path() / ("tabulon-test-" + std::to_string(stamp) + "-" +
                                        std::to_string(random()) + "-" + std::to_string(counter++));
  fs::create_directories(m_Path);
}

TempFolder::~TempFolder() {
  std::error_code error;
  // Read-only files and folders must be made writable again before they can go.
  for (auto it = fs::recursive_directory_iterator(m_Path, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
  }
  fs::remove_all(m_Path, error);
}

fs::path TempFolder::operator/(std::string_view utf8Name) const {
  return Utf8Path(m_Path, utf8Name);
}

platform::Folder OpenFolder(const fs::path& folder) {
  return platform::Folder::Open(AnsiText(fs::absolute(folder)));
}

void WriteBytes(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

fs::path Utf8Path(const fs::path& folder, std::string_view utf8Name) {
  return folder / fs::path(std::u8string(utf8Name.begin(), utf8Name.end()));
}

std::string AnsiText(const fs::path& path) {
  std::u8string utf8 = path.u8string();
  return platform::Utf8ToAnsi(
      std::string_view(reinterpret_cast<const char*>(utf8.data()), utf8.size()));
}

std::vector<std::string> FolderNames(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(reinterpret_cast<const char*>(entry.path().filename().u8string().c_str()));
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool CreateNamedExactly(const fs::path& folder, std::string_view utf8Name, std::string_view bytes) {
  try {
    fs::path path = Utf8Path(folder, utf8Name);
    WriteBytes(path, bytes);
    for (const auto& entry : fs::directory_iterator(folder)) {
      if (entry.path().filename() == path.filename()) return true;
    }
    std::error_code ignored;
    fs::remove(path, ignored);
  } catch (const std::exception&) {
    // A name that is no UTF-8 has no wide form on Windows.
  }
  return false;
}

std::string Md5Hex(std::string_view bytes) {
  unsigned char digest[kMd5DigestSize];
  Md5Buffer(bytes.data(), bytes.size(), digest);
  return FormatDigestHex(digest);
}

bool Contains(std::string_view haystack, std::string_view needle) {
  return haystack.find(needle) != std::string_view::npos;
}

void WriteConfigFiles(const fs::path& folder, bool withClientIni) {
  WriteBytes(folder / "set.ini", kSetIni);
  WriteBytes(folder / "game.ini", kGameIni);
  if (withClientIni) WriteBytes(folder / "client.ini", kClientIni);
}

ToolRun RunTabulonIn(const fs::path& folder, std::string_view executableName) {
  fs::path copy = Utf8Path(folder, executableName);
  fs::copy_file(TABULON_EXE_PATH, copy, fs::copy_options::overwrite_existing);
  return RunExecutable(copy);
}

std::string Opening() { return std::string(texts::kInitializing) + texts::kSearchStarted; }

std::string Started(int count, const fs::path& folder, const std::string& name) {
  return Text(texts::kFileStarted, count, (ToolFolderText(folder) + name).c_str());
}

std::string Listed(int count, const fs::path& folder, const std::string& name,
                   const std::string& digest) {
  return Started(count, folder, name) + Text(texts::kFileDone, name.c_str(), digest.c_str());
}

std::string Refused(int count, const fs::path& folder, const std::string& name) {
  return Started(count, folder, name) + Text(texts::kNameRefused, name.c_str());
}

std::string Unreadable(int count, const fs::path& folder, const std::string& name) {
  return Started(count, folder, name) + Text(texts::kFileUnreadable, name.c_str());
}

std::string WriteFailed(const fs::path& folder, const std::string& name) {
  return Text(texts::kWriteFailed, (ToolFolderText(folder) + name).c_str());
}

std::string Unopenable(const fs::path& folder, const std::string& name) {
  return Text(texts::kSourceUnopenable, (ToolFolderText(folder) + name).c_str());
}

std::string ListedAll(const fs::path& folder, const List& files) {
  std::string lines = Opening();
  int count = 0;
  for (const auto& [name, digest] : files) lines += Listed(++count, folder, name, digest);
  return lines;
}

void ExpectOutput(std::string output, const std::string& expected,
                  const std::vector<std::string>& toldOnce) {
  for (const std::string& text : toldOnce) {
    size_t at = output.find(text);
    ASSERT_NE(at, std::string::npos) << "missing: " << text << "\nin: " << output;
    output.erase(at, text.size());
    EXPECT_FALSE(Contains(output, text)) << "told twice: " << text;
  }
  EXPECT_EQ(output, expected);
}

std::string Entries(const List& list) {
  std::string lines;
  for (size_t i = 0; i < list.size(); ++i) {
    lines += "value_key" + std::to_string(i) + "=" + list[i].first + "\r\nvalue_" +
             std::to_string(i) + "=" + list[i].second + "\r\n";
  }
  return lines;
}

std::string NewListFile(const List& list) {
  return "[file]\r\nvalue_count=" + std::to_string(list.size()) + "\r\n" + Entries(list);
}

List UpdateList(const List& files, const std::string& url) {
  List list;
  for (const auto& [name, digest] : files) {
    list.emplace_back(name + "|" + digest, url + "/client/" + name);
  }
  return list;
}

std::map<std::string, std::string> CurrentList(const std::string& ini) {
  std::map<std::string, std::string> keys;
  size_t start = ini.find("[file]\r\n");
  if (start == std::string::npos) return {};
  for (size_t at = start + 8; at < ini.size();) {
    size_t end = ini.find("\r\n", at);
    if (end == std::string::npos) end = ini.size();
    std::string line = ini.substr(at, end - at);
    if (line.starts_with("[")) break;
    size_t equals = line.find('=');
    if (equals != std::string::npos) keys.emplace(line.substr(0, equals), line.substr(equals + 1));
    at = end + 2;
  }
  std::map<std::string, std::string> list;
  int count = keys.count("value_count") ? std::stoi(keys["value_count"]) : 0;
  for (int i = 0; i < count; ++i) {
    std::string index = std::to_string(i);
    auto key = keys.find("value_key" + index);
    auto value = keys.find("value_" + index);
    if (key == keys.end() || value == keys.end()) {
      list.emplace("<missing " + index + ">", "");
    } else {
      list.emplace(key->second, value->second);
    }
  }
  return list;
}

void ExpectSameBytes(const std::string& actual, const std::string& expected, const char* what) {
  if (actual == expected) return;
  size_t at = 0;
  while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
  ADD_FAILURE() << what << ": " << actual.size() << " bytes instead of " << expected.size()
                << ", first difference at " << at << ": \""
                << actual.substr(at > 40 ? at - 40 : 0, 120) << "\" instead of \""
                << expected.substr(at > 40 ? at - 40 : 0, 120) << "\"";
}

namespace {

constexpr std::string_view kFolderPlaceholder = "<folder>";

// `text` with every `from` replaced by `to`.
std::string Replaced(std::string text, std::string_view from, std::string_view to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

}  // namespace

void ExpectGolden(const std::string& name, const fs::path& folder, const ToolRun& run,
                  const std::vector<std::string>& files) {
  const fs::path golden = fs::path(TABULON_SOURCE_DIR) / "tests" / "golden" / name;
  const std::string folderText = ToolFolderText(folder);
  if (std::getenv("TABULON_UPDATE_GOLDEN") != nullptr) {
    fs::create_directories(golden);
    WriteBytes(golden / "console.txt", Replaced(run.output, folderText, kFolderPlaceholder));
    for (const std::string& file : files)
      fs::copy_file(folder / file, golden / file, fs::copy_options::overwrite_existing);
    return;
  }
  ASSERT_TRUE(fs::is_regular_file(golden / "console.txt")) << golden;
  ExpectSameBytes(run.output,
                  Replaced(ReadBytes(golden / "console.txt"), kFolderPlaceholder, folderText),
                  "console");
  for (const std::string& file : files) {
    EXPECT_TRUE(fs::is_regular_file(folder / file)) << file << " was not written";
    ExpectSameBytes(ReadBytes(folder / file), ReadBytes(golden / file), file.c_str());
  }
}

}  // namespace testing_support
