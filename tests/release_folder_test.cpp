// The shipped Tabulon.exe, with its default options, run as a release engineer runs it on folders
// built like a real release: a folder with a Chinese name, thousands of files with Chinese names
// and sizes from 0 bytes to 64 KiB, and the three configuration files. Every run starts on a
// fresh copy, must succeed, and must give every file the digest that another MD5 implementation
// gives it. Repeated runs catch what goes wrong only now and then, such as a race. Further runs
// change files while the tool reads them.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <future>
#include <map>
#include <random>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

constexpr char kReleaseUrl[] = "http://update.example.com/game";

// Writes `count` files with Chinese names (some holding a double-byte character whose second
// byte is 0x5C, a backslash on its own) and sizes from 0 to 64 KiB, block edges included, and
// the three configuration files.
void MakeReleaseFolder(const fs::path& folder, int count) {
  static const char* const kWords[] = {"资源", "界面", "纹理", "音效", "地图", "角色",
                                       "技能", "配置", "模型", "乗务", "動畫", "脚本"};
  static const char* const kExtensions[] = {".pak", ".dat", ".dds", ".ogg", ".cfg", ""};
  static const size_t kEdgeSizes[] = {0, 1, 55, 56, 63, 64, 65, 1023, 1024, 1025, 65535, 65536};
  std::mt19937 random(20261208);
  std::uniform_int_distribution<size_t> size(0, 64 * 1024);
  fs::create_directories(folder);
  std::string bytes;
  for (int i = 0; i < count; ++i) {
    std::string name = std::string(kWords[i % std::size(kWords)]) + "_" + std::to_string(i) +
                       kExtensions[i % std::size(kExtensions)];
    bytes.resize(i < static_cast<int>(std::size(kEdgeSizes)) ? kEdgeSizes[i] : size(random));
    for (char& byte : bytes) byte = static_cast<char>(random());
    WriteBytes(Utf8Path(folder, name), bytes);
  }
  WriteBytes(folder / "client.ini", std::string("[updateserver]\r\nURL=") + kReleaseUrl +
                                        "\r\n\r\n[launcher]\r\ntitle=\xE7\xA4\xBA\xE4\xBE\x8B\r\n");
  WriteBytes(folder / "set.ini", "[video]\r\nwidth=1920\r\nheight=1080\r\n");
  WriteBytes(folder / "game.ini", "[game]\nid=7\nname=demo\n");
}

// Checks one run's lists against the independent digests of the files it listed.
void ExpectListsMatch(const fs::path& folder, const std::map<std::string, std::string>& expected) {
  std::map<std::string, std::string> clientList = CurrentList(ReadBytes(folder / "client.ini"));
  std::map<std::string, std::string> updateList =
      CurrentList(ReadBytes(folder / "update_file.ini"));
  // client.ini is listed as the run left it at its turn: only its presence is checked.
  EXPECT_EQ(clientList.size(), expected.size() + 1);
  EXPECT_EQ(updateList.size(), expected.size() + 1);
  EXPECT_TRUE(clientList.count("client.ini"));
  int wrong = 0;
  for (const auto& [name, digest] : expected) {
    auto listed = clientList.find(name);
    bool right = listed != clientList.end() && listed->second == digest;
    auto update = updateList.find(name + "|" + digest);
    right =
        right && update != updateList.end() && update->second == kReleaseUrl + ("/client/" + name);
    if (!right && ++wrong <= 5) {
      ADD_FAILURE() << name << ": " << (listed == clientList.end() ? "not listed" : listed->second)
                    << " instead of " << digest;
    }
  }
  EXPECT_EQ(wrong, 0) << "files listed wrongly";
}

struct ReleaseCase {
  const char* folderName;  // UTF-8
  int files;
};

class ReleaseFolder : public testing::TestWithParam<ReleaseCase> {};

TEST_P(ReleaseFolder, EveryRunOnAFreshCopyListsEveryFileWithItsDigest) {
  const ReleaseCase& release = GetParam();
  TempFolder parent;
  fs::path original = parent / "original";
  MakeReleaseFolder(original, release.files);
  std::map<std::string, std::string> expected = IndependentDigests(original);
  ASSERT_EQ(expected.size(), static_cast<size_t>(release.files) + 3);
  expected.erase("client.ini");

  // Wine starts every process slowly; fewer runs there.
  const int runs = IsWindowsBuild() ? 3 : 10;
  for (int run = 0; run < runs; ++run) {
    SCOPED_TRACE("run " + std::to_string(run + 1));
    fs::path copy = Utf8Path(parent.path() / ("run" + std::to_string(run)), release.folderName);
    fs::create_directories(copy.parent_path());
    fs::copy(original, copy, fs::copy_options::recursive);
    fs::copy_file(TABULON_EXE_PATH, copy / "Tabulon.exe");
    ToolRun result = RunExecutable(copy / "Tabulon.exe");
    EXPECT_EQ(result.exitCode, 0) << result.output.substr(0, 2000);
    EXPECT_TRUE(result.output.ends_with(texts::kRunSucceeded)) << "the closing text";
    ExpectListsMatch(copy, expected);
    fs::remove_all(copy.parent_path());
    if (HasFailure()) break;
  }
}

INSTANTIATE_TEST_SUITE_P(
    ChineseNames, ReleaseFolder,
    testing::Values(ReleaseCase{"发布目录", 2000},
                    // 乗 is 0x81 0x5C in code page 936: its second byte is a backslash.
                    ReleaseCase{"乗务发布", 2000}),
    [](const testing::TestParamInfo<ReleaseCase>& info) {
      return info.index == 0 ? std::string("ChineseFolder") : std::string("BackslashByteFolder");
    });

constexpr size_t kPage = 4096;
// The steps of a change besides a byte rewritten at an offset: a page cut off the end, or added.
constexpr size_t kCut = SIZE_MAX, kGrow = SIZE_MAX - 1;

void Apply(size_t step, std::string& content) {
  if (step == kCut) content.resize(content.size() - kPage);
  if (step == kGrow) content.append(kPage, '+');
  if (step < kGrow) content[step] = static_cast<char>(content[step] + 1);
}

// A large file that another thread changes while the tool runs.
struct ChangingFile {
  std::string name;
  std::string initial;
  std::string content;        // as it is now
  std::vector<size_t> steps;  // from `initial` to `content`, each leaving whole content behind

  // Takes `step` when the system made it; a step it refused (Windows, while the tool holds the
  // file) changed nothing.
  bool Record(size_t step, bool made) {
    if (made) {
      steps.push_back(step);
      Apply(step, content);
    }
    return made;
  }

  // The digests of every content the file had.
  std::set<std::string> Digests() const {
    std::string version = initial;
    std::set<std::string> digests = {Md5Hex(version)};
    for (size_t step : steps) {
      Apply(step, version);
      digests.insert(Md5Hex(version));
    }
    return digests;
  }
};

// One change to `file` as another program makes it: its first and last byte rewritten one after
// the other, a page cut off or added, a copy with one byte changed renamed over it.
void ChangeOnce(const fs::path& folder, ChangingFile& file, std::mt19937& random) {
  const fs::path path = Utf8Path(folder, file.name);
  std::error_code error;
  auto rewrite = [&](size_t at) {
    std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(static_cast<std::streamoff>(at));
    out.put(static_cast<char>(file.content[at] + 1));
    out.close();
    return file.Record(at, !out.fail());
  };
  switch (random() % 4) {
    case 0:
      if (rewrite(0)) rewrite(file.content.size() - 1);
      return;
    case 1:
      fs::resize_file(path, file.content.size() - kPage, error);
      file.Record(kCut, !error);
      return;
    case 2: {
      std::ofstream out(path, std::ios::binary | std::ios::app);
      out.write(std::string(kPage, '+').data(), kPage);
      out.close();
      file.Record(kGrow, !out.fail());
      return;
    }
    default: {
      const size_t at = file.content.size() / 2 + random() % (file.content.size() / 2);
      std::string next = file.content;
      Apply(at, next);
      // The dot keeps the new copy out of the lists until it is renamed.
      const fs::path copy = Utf8Path(folder, "." + file.name + ".new");
      WriteBytes(copy, next);
      fs::rename(copy, path, error);
      if (!file.Record(at, !error)) fs::remove(copy, error);
    }
  }
}

// Runs in which eight files of 8 MiB change over and over while the tool reads the folder, each
// of them every 12 milliseconds, so that each change leaves another modification time even where
// the file system's clock is coarse. A file may be listed only with the digest of content it
// really had; one that could not be read whole as it was is told unreadable, and then the run
// fails. The other files keep their digests.
TEST(ReleaseFolderChanging, NoFileIsListedWithContentItNeverHad) {
  TempFolder parent;
  const fs::path original = Utf8Path(parent.path(), "original");
  MakeReleaseFolder(original, 500);
  std::map<std::string, std::string> expected = IndependentDigests(original);
  expected.erase("client.ini");
  std::mt19937 random(20261209);
  const int runs = IsWindowsBuild() ? 1 : 3;
  for (int run = 0; run < runs; ++run) {
    SCOPED_TRACE("run " + std::to_string(run + 1));
    const fs::path folder = Utf8Path(parent.path() / ("run" + std::to_string(run)), "发布目录");
    fs::create_directories(folder.parent_path());
    fs::copy(original, folder, fs::copy_options::recursive);
    std::vector<ChangingFile> changing(8);
    for (size_t i = 0; i < changing.size(); ++i) {
      changing[i].name = "资源_big" + std::to_string(i) + ".pak";
      changing[i].initial.assign(8u << 20, static_cast<char>('a' + i));
      changing[i].content = changing[i].initial;
      WriteBytes(Utf8Path(folder, changing[i].name), changing[i].initial);
    }
    fs::copy_file(TABULON_EXE_PATH, folder / "Tabulon.exe");

    auto tool =
        std::async(std::launch::async, [&] { return RunExecutable(folder / "Tabulon.exe"); });
    while (tool.wait_for(std::chrono::milliseconds(12)) != std::future_status::ready) {
      for (ChangingFile& file : changing) ChangeOnce(folder, file, random);
    }
    const ToolRun result = tool.get();
    std::map<std::string, std::string> listed = CurrentList(ReadBytes(folder / "client.ini"));
    int unreadable = 0;
    for (const ChangingFile& file : changing) {
      const std::string name = platform::Utf8ToAnsi(file.name);
      auto entry = listed.find(name);
      if (entry == listed.end()) {
        ++unreadable;
        EXPECT_TRUE(Contains(result.output, Text(texts::kFileUnreadable, name.c_str())))
            << file.name;
        continue;
      }
      EXPECT_TRUE(file.Digests().count(entry->second))
          << file.name << " listed with " << entry->second << " after " << file.steps.size()
          << " changes";
      listed.erase(entry);
    }
    listed.erase("client.ini");
    EXPECT_EQ(listed, expected) << "the files that did not change";
    EXPECT_EQ(result.exitCode, unreadable == 0 ? 0 : 1);
    fs::remove_all(folder.parent_path());
    if (HasFailure()) break;
  }
}

}  // namespace
