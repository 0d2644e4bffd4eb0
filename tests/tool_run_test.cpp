// Whole runs of the built Tabulon.exe in temporary folders: console bytes, exit status and the
// files it writes, byte for byte, most of them against the committed outputs in tests/golden/.
#include <gtest/gtest.h>

#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

// The sample release folder of the repository: client.ini listed first (digested as it was),
// the updater and a subfolder passed over, Chinese names listed after ASCII ones, the three
// encoded copies.
TEST(ToolRun, SampleReleaseFolderGivesTheCommittedOutputs) {
  TempFolder folder;
  fs::copy(fs::path(TABULON_SOURCE_DIR) / "examples" / "release", folder.path(),
           fs::copy_options::recursive);
  ToolRun run = RunTabulonIn(folder.path());
  EXPECT_EQ(run.exitCode, 0);
  ExpectGolden("release", folder.path(), run,
               {"update_file.ini", "client.ini", "set_e.ini", "game_e.ini", "client_e.ini"});
}

// The scan lists names compared after upper-casing (a, a.txt, B, c); the lists order their keys
// byte by byte (B before a; "a.txt|..." before "a|..." in the update list). client.ini, listed in
// the middle, is digested with the entries of the four files before it. Dot names, the update
// list, the updater, a folder and a link to it are passed over.
TEST(ToolRun, ListingOrderAndListOrderDiffer) {
  TempFolder folder;
  WriteConfigFiles(folder.path());
  WriteBytes(folder / "c", "see");
  WriteBytes(folder / "B", "Bee");
  WriteBytes(folder / "a.txt", "a text");
  WriteBytes(folder / "a", "");
  WriteBytes(folder / "\xE6\x95\xB0\xE6\x8D\xAE.pak", "data");  // 数据.pak
  WriteBytes(folder / ".hidden", "x");
  WriteBytes(folder / "update_file.ini", "");
  WriteBytes(folder / "Patchwell.exe", "updater");
  fs::create_directory(folder / "logs");
  std::error_code noLinksHere;
  fs::create_directory_symlink(folder / "logs", folder / "linked", noLinksHere);

  ToolRun run = RunTabulonIn(folder.path());
  EXPECT_EQ(run.exitCode, 0);
  ExpectGolden("listing_order", folder.path(), run, {"update_file.ini", "client.ini"});
}

TEST(ToolRun, FolderWithoutAnAnsiNameTouchesNoFile) {
  TempFolder parent;
  fs::path folder = parent / "\xE0\xB8\x81";  // Thai ko kai: not in code page 936
  fs::create_directory(folder);
  WriteBytes(folder / "x.bin", "x");
  ToolRun run = RunTabulonIn(folder);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.output,
            std::string(texts::kInitializing) + texts::kNoModuleDirectory + texts::kRunFailed);
  EXPECT_EQ(FolderNames(folder), (std::vector<std::string>{"Tabulon.exe", "x.bin"}));
}

TEST(ToolRun, FolderWithADoubleByteNameEndingInBackslashByte) {
  TempFolder parent;
  fs::path folder = parent / "\xE4\xB9\x97";  // 乗, 0x81 0x5C in code page 936
  fs::create_directory(folder);
  WriteBytes(folder / "x.bin", "x");
  ToolRun run = RunTabulonIn(folder);
  EXPECT_TRUE(Contains(run.output, Listed(1, folder, "x.bin", Md5Hex("x")))) << run.output;
  EXPECT_EQ(CurrentList(ReadBytes(folder / "client.ini")),
            (std::map<std::string, std::string>{{"x.bin", Md5Hex("x")}}));
}

}  // namespace

// Redirected output goes out in pieces of about 64 KiB: a run on 600 files prints some 90 KiB in
// two or three writes, not one per line (a terminal's way) or per buffer of the C library.
TEST(ToolRunOutput, RedirectedOutputGoesOutInAFewLargeWrites) {
  TempFolder folder;
  WriteConfigFiles(folder.path());
  constexpr int kFiles = 600;
  for (int i = 0; i < kFiles; ++i) {
    // 资源文件<i>.pak
    WriteBytes(Utf8Path(folder.path(), "\xE8\xB5\x84\xE6\xBA\x90\xE6\x96\x87\xE4\xBB\xB6" +
                                           std::to_string(i) + ".pak"),
               std::string(static_cast<size_t>(i % 97), 'x'));
  }
  CountedRun counted = RunCountingOutputWrites(folder.path());
  if (counted.writes < 0) GTEST_SKIP() << counted.unavailable;
  EXPECT_EQ(counted.run.exitCode, 0);
  const std::string& output = counted.run.output;
  EXPECT_TRUE(output.starts_with(Opening()));
  EXPECT_TRUE(output.ends_with(texts::kRunSucceeded));
  size_t started = 0;
  for (size_t at = 0; (at = output.find("\xD5\xFD\xD4\xDA\xD0\xB4\xC8\xEB", at)) != output.npos;
       ++at) {
    ++started;
  }
  EXPECT_EQ(started, kFiles + 3u);  // 正在写入, once per file
  ASSERT_GT(output.size(), 64u * 1024);
  EXPECT_LE(counted.writes, 3) << output.size() << " bytes";
}
