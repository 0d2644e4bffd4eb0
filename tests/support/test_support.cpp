#include "support/test_support.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <random>
#include <sstream>

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

fs::path TempFolder::operator/(std::string_view utf8Name) const {
  return Utf8Path(m_Path, utf8Name);
}

ToolRun RunTabulonIn(const fs::path& folder, std::string_view executableName) {
  fs::path copy = Utf8Path(folder, executableName);
  fs::copy_file(TABULON_EXE_PATH, copy, fs::copy_options::overwrite_existing);
  return RunExecutable(copy);
}

}  // namespace testing_support
