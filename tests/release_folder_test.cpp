// The shipped Tabulon.exe, with its default options, run as a release engineer runs it on folders
// built like a real release: a folder with a Chinese name, thousands of files with Chinese names
// and sizes from 0 bytes to 64 KiB, and the three configuration files. Every run starts on a
// fresh copy, must succeed, and must give every file the digest that another MD5 implementation
// gives it. Repeated runs catch what goes wrong only now and then, such as a race.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
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

}  // namespace
