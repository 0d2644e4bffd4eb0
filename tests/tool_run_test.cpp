// Whole runs of the built Tabulon.exe in temporary folders: console bytes, exit status and the
// two INI files, byte for byte.
#include <gtest/gtest.h>

#include "platform/console_texts.h"
#include "digest/digest_file.h"
#include "digest/md5.h"
#include "inilist/ini_store.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ReadBytes;
using testing_support::RunTabulonIn;
using testing_support::TempFolder;
using testing_support::ToolFolderText;
using testing_support::ToolRun;
using testing_support::WriteBytes;

std::string Md5Hex(std::string_view bytes) {
  unsigned char digest[kMd5DigestSize];
  Md5Buffer(bytes.data(), bytes.size(), digest);
  return FormatDigestHex(digest);
}

std::string Format(const char* format, const std::string& a, const std::string& b = {}) {
  char buffer[4096];
  std::snprintf(buffer, sizeof buffer, format, a.c_str(), b.c_str());
  return buffer;
}

std::string Started(int count, const std::string& path) {
  char buffer[4096];
  std::snprintf(buffer, sizeof buffer, texts::kFileStarted, count, path.c_str());
  return buffer;
}

std::string Get(const fs::path& ini, const char* key) {
  return ReadIniValue(ReadBytes(ini), "file", key, "<missing>");
}

bool Contains(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos;
}

// Creates a symbolic link; false where the system cannot make one (Windows without the right).
bool TryCreateSymlink(const fs::path& target, const fs::path& link) {
  std::error_code error;
  if (fs::is_directory(target)) {
    fs::create_directory_symlink(target, link, error);
  } else {
    fs::create_symlink(target, link, error);
  }
  return !error;
}

// Creates a file whose name the folder lists back exactly as given; false where the system
// refuses the name or changes it (Windows drops a trailing blank and refuses a line break).
bool CreateNamedExactly(const fs::path& folder, std::string_view utf8Name) {
  fs::path path = testing_support::Utf8Path(folder, utf8Name);
  WriteBytes(path, "");
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().filename() == path.filename()) return true;
  }
  std::error_code ignored;
  fs::remove(path, ignored);
  return false;
}

constexpr char kClientIni[] = "[updateserver]\r\nURL=http://cdn.example/game\r\n";

TEST(ToolRun, ListsEveryFileInBothFilesAndPrintsEveryText) {
  TempFolder folder;
  WriteBytes(folder / "client.ini", kClientIni);
  WriteBytes(folder / "set.ini", "s");
  WriteBytes(folder / "game.ini", "g");
  WriteBytes(folder / "c", "see");
  WriteBytes(folder / "B", "Bee");
  WriteBytes(folder / "a.txt", "a text");
  WriteBytes(folder / "a", "");
  WriteBytes(folder / "\xE6\x95\xB0\xE6\x8D\xAE.pak", "data");  // 数据.pak
  WriteBytes(folder / ".hidden", "x");
  WriteBytes(folder / "update_file.ini", "");
  WriteBytes(folder / "Patchwell.exe", "updater");
  fs::create_directory(folder / "logs");
  TryCreateSymlink(folder / "logs", folder / "linked");

  ToolRun run = RunTabulonIn(folder.path());
  ASSERT_EQ(run.exitCode, 0) << run.output;

  // Listing order: names compared after upper-casing; list order: capitals before small letters.
  std::string dir = ToolFolderText(folder.path());
  std::string gbkName = "\xCA\xFD\xBE\xDD.pak";
  // client.ini is digested as the lists of the four files listed before it left it.
  std::string clientThen = std::string(kClientIni) + "[file]\r\nvalue_count=4\r\n";
  int index = 0;
  for (auto [name, content] : std::vector<std::pair<std::string, std::string>>{
           {"B", "Bee"}, {"a", ""}, {"a.txt", "a text"}, {"c", "see"}}) {
    std::string i = std::to_string(index++);
    clientThen += "value_key" + i + "=" + name + "\r\nvalue_" + i + "=" + Md5Hex(content) + "\r\n";
  }
  std::string expected = std::string(texts::kInitializing) + texts::kSearchStarted;
  int count = 0;
  for (auto [name, digest] :
       std::vector<std::pair<std::string, std::string>>{{"a", Md5Hex("")},
                                                        {"a.txt", Md5Hex("a text")},
                                                        {"B", Md5Hex("Bee")},
                                                        {"c", Md5Hex("see")},
                                                        {"client.ini", Md5Hex(clientThen)},
                                                        {"game.ini", Md5Hex("g")},
                                                        {"set.ini", Md5Hex("s")},
                                                        {gbkName, Md5Hex("data")}}) {
    expected += Started(++count, dir + name);
    expected += Format(texts::kFileDone, name, digest);
  }
  expected += texts::kRunSucceeded;
  EXPECT_EQ(run.output, expected);
  EXPECT_EQ(Get(folder / "client.ini", "value_4"), Md5Hex(clientThen));

  EXPECT_EQ(Get(folder / "client.ini", "value_count"), "8");
  EXPECT_EQ(Get(folder / "client.ini", "value_key0"), "B");
  EXPECT_EQ(Get(folder / "client.ini", "value_key1"), "a");
  EXPECT_EQ(Get(folder / "client.ini", "value_key2"), "a.txt");
  EXPECT_EQ(Get(folder / "client.ini", "value_key3"), "c");
  EXPECT_EQ(Get(folder / "client.ini", "value_key7"), gbkName);
  EXPECT_EQ(Get(folder / "client.ini", "value_7"), Md5Hex("data"));
  // In the update list "a.txt|..." sorts before "a|...".
  EXPECT_EQ(Get(folder / "update_file.ini", "value_key1"), "a.txt|" + Md5Hex("a text"));
  EXPECT_EQ(Get(folder / "update_file.ini", "value_key2"), "a|" + Md5Hex(""));
  EXPECT_EQ(Get(folder / "update_file.ini", "value_2"), "http://cdn.example/game/client/a");
  EXPECT_EQ(Get(folder / "update_file.ini", "value_7"),
            "http://cdn.example/game/client/" + gbkName);
  EXPECT_EQ(ReadIniValue(ReadBytes(folder / "client.ini"), "updateserver", "URL", ""),
            "http://cdn.example/game");
}

TEST(ToolRun, ClientIniListedFirstIsDigestedAsItWasAndFilesAreExact) {
  TempFolder folder;
  std::vector<std::pair<std::string, std::string>> files = {
      {"client.ini", kClientIni}, {"game.ini", "g"}, {"set.ini", "s"}, {"zz.bin", "z"}};
  for (const auto& [name, content] : files) WriteBytes(folder / name, content);
  ToolRun run = RunTabulonIn(folder.path());
  ASSERT_EQ(run.exitCode, 0) << run.output;

  std::string output = std::string(texts::kInitializing) + texts::kSearchStarted;
  std::string clientList = "[file]\r\nvalue_count=4\r\n";
  std::string updateList = clientList;
  int index = 0;
  for (const auto& [name, content] : files) {
    std::string digest = Md5Hex(content);
    std::string i = std::to_string(index++);
    output += Started(index, ToolFolderText(folder.path()) + name);
    output += Format(texts::kFileDone, name, digest);
    clientList += "value_key" + i + "=" + name + "\r\nvalue_" + i + "=" + digest + "\r\n";
    updateList += "value_key" + i + "=" + name + "|" + digest + "\r\nvalue_" + i +
                  "=http://cdn.example/game/client/" + name + "\r\n";
  }
  EXPECT_EQ(run.output, output + texts::kRunSucceeded);
  EXPECT_EQ(ReadBytes(folder / "client.ini"), kClientIni + clientList);
  EXPECT_EQ(ReadBytes(folder / "update_file.ini"), updateList);
}

TEST(ToolRun, FolderOfSkippedNamesWritesNoList) {
  TempFolder folder;
  WriteBytes(folder / ".git", "");
  WriteBytes(folder / "Patchwell.exe", "");
  ToolRun run = RunTabulonIn(folder.path());
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.output,
            std::string(texts::kInitializing) + texts::kSearchStarted +
                Format(texts::kSourceUnopenable, ToolFolderText(folder.path()) + "set.ini") +
                Format(texts::kSourceUnopenable, ToolFolderText(folder.path()) + "game.ini") +
                Format(texts::kSourceUnopenable, ToolFolderText(folder.path()) + "client.ini") +
                texts::kRunFailed)
      << "the missing configuration files fail the run";
  EXPECT_FALSE(fs::exists(folder / "update_file.ini"));
  EXPECT_FALSE(fs::exists(folder / "client.ini"));
}

TEST(ToolRun, WithoutAUrlEveryAddressStartsWithClient) {
  TempFolder folder;
  WriteBytes(folder / "x.bin", "x");
  ToolRun run = RunTabulonIn(folder.path());
  EXPECT_EQ(Get(folder / "update_file.ini", "value_0"), "/client/x.bin");
}

TEST(ToolRun, ALongUrlIsUsedWhole) {
  TempFolder folder;
  std::string url = "http://cdn.example/" + std::string(5000, 'u');
  WriteBytes(folder / "client.ini", "[updateserver]\nURL=" + url + "\n");
  WriteBytes(folder / "x.bin", "x");
  RunTabulonIn(folder.path());
  EXPECT_EQ(Get(folder / "update_file.ini", "value_1"), url + "/client/x.bin");
}

TEST(ToolRun, RefusesNamesAnIniValueCannotCarry) {
  TempFolder folder;
  WriteBytes(folder / "client.ini", kClientIni);
  WriteBytes(folder / "ok.bin", "ok");
  std::vector<std::string> refused;
  for (const char* name : {" lead.bin", "trail.bin ", "'quoted'", "line\nbreak"}) {
    if (CreateNamedExactly(folder.path(), name)) refused.push_back(name);
  }
  ASSERT_FALSE(refused.empty());
  ToolRun run = RunTabulonIn(folder.path());
  EXPECT_EQ(run.exitCode, 1);
  for (const std::string& name : refused) {
    EXPECT_TRUE(Contains(run.output, Format(texts::kNameRefused, name))) << name;
  }
  EXPECT_TRUE(Contains(run.output, Format(texts::kFileDone, "ok.bin", Md5Hex("ok"))));
  EXPECT_TRUE(run.output.ends_with(texts::kRunFailed));
  EXPECT_EQ(Get(folder / "client.ini", "value_count"), "2");
  EXPECT_EQ(Get(folder / "update_file.ini", "value_count"), "2");
}

TEST(ToolRun, UnreadableFilesGetNoEntryAndFailTheRun) {
  TempFolder folder;
  WriteBytes(folder / "client.ini", kClientIni);
  WriteBytes(folder / "good.bin", "good");
  if (!TryCreateSymlink(folder / "nowhere", folder / "dangling.bin")) {
    GTEST_SKIP() << "no symbolic links here";
  }
  ToolRun run = RunTabulonIn(folder.path());
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(Contains(run.output, Format(texts::kFileUnreadable, "dangling.bin")));
  EXPECT_EQ(Get(folder / "client.ini", "value_count"), "2");
  EXPECT_EQ(Get(folder / "client.ini", "value_key1"), "good.bin");
}

TEST(ToolRun, ReadOnlyClientIniIsReportedOnceAndKept) {
  TempFolder folder;
  WriteBytes(folder / "client.ini", kClientIni);
  WriteBytes(folder / "set.ini", "");
  WriteBytes(folder / "game.ini", "");
  for (const char* name : {"a.bin", "b.bin", "c.bin"}) WriteBytes(folder / name, name);
  fs::permissions(folder / "client.ini", fs::perms::owner_read | fs::perms::group_read);
  ToolRun run = RunTabulonIn(folder.path());
  EXPECT_EQ(run.exitCode, 1);
  std::string failure = Format(texts::kWriteFailed, ToolFolderText(folder.path()) + "client.ini");
  size_t first = run.output.find(failure);
  ASSERT_NE(first, std::string::npos) << run.output;
  EXPECT_EQ(run.output.find(failure, first + 1), std::string::npos);
  EXPECT_EQ(ReadBytes(folder / "client.ini"), kClientIni);
  EXPECT_EQ(Get(folder / "update_file.ini", "value_count"), "6");
  EXPECT_TRUE(run.output.ends_with(texts::kRunFailed));
}

TEST(ToolRun, KeepsAFormerLongerListAndOtherSections) {
  TempFolder folder;
  std::string former =
      "[updateserver]\r\nURL=u\r\n[file]\r\nvalue_count=3\r\nvalue_key0=o0\r\nvalue_0=d0\r\n"
      "value_key1=o1\r\nvalue_1=d1\r\nvalue_key2=o2\r\nvalue_2=d2\r\n[other]\r\nkeep=me\r\n";
  WriteBytes(folder / "client.ini", former);
  ToolRun run = RunTabulonIn(folder.path());
  std::string digest = Md5Hex(former);
  EXPECT_EQ(ReadBytes(folder / "client.ini"),
            "[updateserver]\r\nURL=u\r\n[file]\r\nvalue_count=1\r\nvalue_key0=client.ini\r\n"
            "value_0=" +
                digest +
                "\r\nvalue_key1=o1\r\nvalue_1=d1\r\nvalue_key2=o2\r\n"
                "value_2=d2\r\n[other]\r\nkeep=me\r\n");
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
  EXPECT_FALSE(fs::exists(folder / "update_file.ini"));
  EXPECT_FALSE(fs::exists(folder / "client.ini"));
}

TEST(ToolRun, FolderWithADoubleByteNameEndingInBackslashByte) {
  TempFolder parent;
  fs::path folder = parent / "\xE4\xB9\x97";  // 乗, 0x81 0x5C in code page 936
  fs::create_directory(folder);
  WriteBytes(folder / "x.bin", "x");
  ToolRun run = RunTabulonIn(folder);
  EXPECT_TRUE(Contains(run.output, Started(1, ToolFolderText(folder) + "x.bin"))) << run.output;
  EXPECT_EQ(Get(folder / "client.ini", "value_key0"), "x.bin");
}

}  // namespace
