// Hostile inputs that any system can hold, run end to end through the built Tabulon.exe: names
// with the INI format's own characters, INI files in unusual shapes and sizes, a read-only list,
// folders with nothing to list. hostile_inputs.md lists every case with its outcome;
// hostile_inputs_posix_test.cpp holds the cases that need POSIX facilities.
#include "hostile_inputs.h"

#include <gtest/gtest.h>

#include "inilist/ini_store.h"

namespace {

namespace fs = std::filesystem;
using namespace hostile_inputs;
using testing_support::ReadBytes;
using testing_support::RunTabulonIn;
using testing_support::TempFolder;
using testing_support::ToolRun;
using testing_support::WriteBytes;

// Names built from the INI format's own characters, a lone quote, quotes that do not match,
// an empty file and a double-byte name whose second byte is 0x5C are all listed and read back
// unchanged. The folder has no client.ini, so every address starts with "/client/".
TEST(HostileInputs, NamesWithIniCharactersAreListedAndReadBackExactly) {
  TempFolder folder;
  struct File {
    const char* utf8Name;
    std::string ansiName;
    std::string content;
  };
  // In the order the folder is listed.
  const std::vector<File> files = {
      {"'", "'", "lone quote"},
      {"'odd.bin", "'odd.bin", "quote at the front only"},
      {"0-empty.bin", "0-empty.bin", ""},
      {";semi.bin", ";semi.bin", "semicolon"},
      {"=equals=.bin", "=equals=.bin", "equals"},
      {"game.ini", "game.ini", kGame},
      {"set.ini", "set.ini", kSet},
      {"[bracket].bin", "[bracket].bin", "bracket"},
      {"\xE4\xB9\x97.bin", "\x81\x5C.bin", "0x5C second byte"},  // 乗.bin
  };
  for (const File& file : files) WriteBytes(folder / file.utf8Name, file.content);

  ToolRun run = RunTabulonIn(folder.path());
  List listed;
  for (const File& file : files) listed.emplace_back(file.ansiName, Md5Hex(file.content));
  ExpectOutput(run.output, ListedAll(folder.path(), listed) + texts::kRunSucceeded);
  EXPECT_EQ(run.exitCode, 0);

  // Byte order; "'odd.bin|" sorts before "'|" in the update list, as "a.txt" before "a".
  List clientList;
  List updateFiles;
  for (size_t i : {0, 1, 2, 3, 4, 7, 5, 6, 8}) clientList.push_back(listed[i]);
  for (size_t i : {1, 0, 2, 3, 4, 7, 5, 6, 8}) updateFiles.push_back(listed[i]);
  EXPECT_EQ(ReadBytes(folder / "client.ini"), NewListFile(clientList));
  EXPECT_EQ(ReadBytes(folder / "update_file.ini"), NewListFile(UpdateList(updateFiles, "")));
  // A reader gets every name back unchanged.
  std::string clientIni = ReadBytes(folder / "client.ini");
  for (size_t i = 0; i < clientList.size(); ++i) {
    EXPECT_EQ(ReadIniValue(clientIni, "file", "value_key" + std::to_string(i), ""),
              clientList[i].first);
  }
}

// client.ini in unusual shapes. It is listed first, so it is digested as it was before the run.
struct IniShape {
  const char* name;
  std::string before;
  std::string url;  // as the run reads it, in the ANSI code page
  // client.ini after the run, given the list lines it gets: `head` replaces the lines up to and
  // including the first entry, `rest` holds the remaining entries.
  std::string (*after)(const std::string& count, const std::string& head, const std::string& rest);
};

void PrintTo(const IniShape& shape, std::ostream* out) { *out << shape.name; }

class IniShapes : public testing::TestWithParam<IniShape> {};

TEST_P(IniShapes, ListGoesIntoTheFirstFileSectionAndEverythingElseStays) {
  const IniShape& shape = GetParam();
  TempFolder folder;
  WriteBytes(folder / "client.ini", shape.before);
  WriteBytes(folder / "game.ini", kGame);
  WriteBytes(folder / "set.ini", kSet);
  WriteBytes(folder / "\xE4\xB9\x97.bin", "data");  // 乗.bin

  ToolRun run = RunTabulonIn(folder.path());
  const List files = {{"client.ini", Md5Hex(shape.before)},
                      {"game.ini", Md5Hex(kGame)},
                      {"set.ini", Md5Hex(kSet)},
                      {"\x81\x5C.bin", Md5Hex("data")}};
  ExpectOutput(run.output, ListedAll(folder.path(), files) + texts::kRunSucceeded);
  EXPECT_EQ(run.exitCode, 0);

  const std::string entries = Entries(files);
  const size_t firstEntryEnd = entries.find("\r\n", entries.find("value_0=")) + 2;
  EXPECT_EQ(ReadBytes(folder / "client.ini"),
            shape.after("4", entries.substr(0, firstEntryEnd), entries.substr(firstEntryEnd)));
  EXPECT_EQ(ReadBytes(folder / "update_file.ini"), NewListFile(UpdateList(files, shape.url)));
}

INSTANTIATE_TEST_SUITE_P(
    HostileInputs, IniShapes,
    testing::Values(
        IniShape{"Utf8ByteOrderMark",
                 "\xEF\xBB\xBF[updateserver]\r\nURL=http://cdn.example/\xE6\xB8\xB8\xE6\x88\x8F\r\n"
                 "[file]\r\n",
                 "http://cdn.example/\xD3\xCE\xCF\xB7",  // 游戏
                 [](const std::string& count, const std::string& head, const std::string& rest) {
                   return "\xEF\xBB\xBF[updateserver]\r\nURL=http://cdn.example/"
                          "\xE6\xB8\xB8\xE6\x88\x8F\r\n[file]\r\nvalue_count=" +
                          count + "\r\n" + head + rest;
                 }},
        IniShape{"CarriageReturnLineEnds",
                 "[updateserver]\rURL=http://cdn.example/cr\r[file]\rvalue_count=9\r"
                 "value_key0=old.bin\rvalue_0=0\r\r[launcher]\rx=1\r",
                 "http://cdn.example/cr",
                 [](const std::string& count, const std::string& head, const std::string& rest) {
                   // Replaced lines keep their CR; added lines end in CR LF.
                   std::string replaced = head;
                   replaced.replace(replaced.find("\r\n"), 2, 1, '\r');
                   replaced.replace(replaced.find("\r\n"), 2, 1, '\r');
                   return "[updateserver]\rURL=http://cdn.example/cr\r[file]\rvalue_count=" +
                          count + "\r" + replaced + rest + "\r[launcher]\rx=1\r";
                 }},
        IniShape{
            "SectionNameInCapitals",
            "[updateserver]\r\nURL=http://cdn.example/up\r\n[FILE]\r\nValue_Count = 1\r\n"
            "VALUE_KEY0=old.bin\r\nvalue_0=0123\r\n",
            "http://cdn.example/up",
            [](const std::string& count, const std::string& head, const std::string& rest) {
              // The spelling before each replaced value stays.
              std::string replaced = head;
              replaced.replace(0, std::string("value_key0").size(), "VALUE_KEY0");
              return "[updateserver]\r\nURL=http://cdn.example/up\r\n[FILE]\r\nValue_Count = " +
                     count + "\r\n" + replaced + rest;
            }},
        IniShape{"DuplicateFileSections",
                 "[file]\r\nvalue_count=0\r\n[updateserver]\r\nURL=http://cdn.example/dup\r\n"
                 "[file]\r\nvalue_count=7\r\nvalue_key0=second.bin\r\n",
                 "http://cdn.example/dup",
                 [](const std::string& count, const std::string& head, const std::string& rest) {
                   return "[file]\r\nvalue_count=" + count + "\r\n" + head + rest +
                          "[updateserver]\r\nURL=http://cdn.example/dup\r\n"
                          "[file]\r\nvalue_count=7\r\nvalue_key0=second.bin\r\n";
                 }}),
    [](const testing::TestParamInfo<IniShape>& info) { return std::string(info.param.name); });

// Large INI files: a client.ini of 50 MiB and an update_file.ini of 50 MiB holding a former list
// of 600,000 entries. The new list is written, every other byte stays.
TEST(HostileInputs, FiftyMebibyteIniFilesKeepEveryOtherByte) {
  TempFolder folder;
  const std::string clientHead = "[updateserver]\r\nURL=http://cdn.example/big\r\n[file]\r\n";
  std::string clientTail = "[launcher]\r\n";
  for (int i = 0; clientTail.size() < (50u << 20); ++i) {
    clientTail += "setting" + std::to_string(i) + " = some launcher value of a line\r\n";
  }
  const std::string clientBefore = clientHead + clientTail;

  auto formerEntry = [](int i) {
    std::string n = std::to_string(i);
    return "value_key" + n + "=old" + n + ".bin|0123456789abcdef0123456789abcdef\r\nvalue_" + n +
           "=http://old.example/client/old" + n + ".bin\r\n";
  };
  std::string updateBefore = "[file]\r\nvalue_count=600000\r\n";
  for (int i = 0; i < 600000; ++i) updateBefore += formerEntry(i);
  ASSERT_GE(updateBefore.size(), 50u << 20);

  WriteBytes(folder / "client.ini", clientBefore);
  WriteBytes(folder / "update_file.ini", updateBefore);
  WriteBytes(folder / "game.ini", kGame);
  WriteBytes(folder / "set.ini", kSet);
  WriteBytes(folder / "z.bin", "z");

  ToolRun run = RunTabulonIn(folder.path());
  const List files = {{"client.ini", Md5Hex(clientBefore)},
                      {"game.ini", Md5Hex(kGame)},
                      {"set.ini", Md5Hex(kSet)},
                      {"z.bin", Md5Hex("z")}};
  ExpectOutput(run.output, ListedAll(folder.path(), files) + texts::kRunSucceeded);
  EXPECT_EQ(run.exitCode, 0);

  ExpectSameBytes(ReadBytes(folder / "client.ini"),
                  clientHead + "value_count=4\r\n" + Entries(files) + clientTail, "client.ini");
  std::string updateAfter =
      "[file]\r\nvalue_count=4\r\n" + Entries(UpdateList(files, "http://cdn.example/big"));
  updateAfter += updateBefore.substr(updateBefore.find(formerEntry(4)));
  ExpectSameBytes(ReadBytes(folder / "update_file.ini"), updateAfter, "update_file.ini");
}

// update_file.ini without write permission is refused and kept, even for root; client.ini is
// still written, and the run says it failed.
TEST(HostileInputs, ReadOnlyUpdateListIsReportedOnceAndKept) {
  TempFolder folder;
  const std::string client = "[updateserver]\r\nURL=http://cdn.example/ro\r\n";
  const std::string former = "[file]\r\nvalue_count=1\r\nvalue_key0=old|0\r\nvalue_0=old\r\n";
  WriteBytes(folder / "client.ini", client);
  WriteBytes(folder / "game.ini", kGame);
  WriteBytes(folder / "set.ini", kSet);
  WriteBytes(folder / "z.bin", "z");
  WriteBytes(folder / "update_file.ini", former);
  const auto readOnly = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
  fs::permissions(folder / "update_file.ini", readOnly);

  ToolRun run = RunTabulonIn(folder.path());
  const List files = {{"client.ini", Md5Hex(client)},
                      {"game.ini", Md5Hex(kGame)},
                      {"set.ini", Md5Hex(kSet)},
                      {"z.bin", Md5Hex("z")}};
  // The failure is told once, whenever the list is written.
  ExpectOutput(run.output, ListedAll(folder.path(), files) + texts::kRunFailed,
               {WriteFailed(folder.path(), "update_file.ini")});
  EXPECT_EQ(run.exitCode, 1);

  EXPECT_EQ(ReadBytes(folder / "update_file.ini"), former);
  EXPECT_EQ(fs::status(folder / "update_file.ini").permissions() & fs::perms::all, readOnly);
  EXPECT_EQ(ReadBytes(folder / "client.ini"), client + NewListFile(files));
}

// With nothing to list no list is written, an old update_file.ini keeps its bytes, and the
// missing configuration files fail the run.
TEST(HostileInputs, EmptyFolderAndFolderOfSkippedNamesWriteNothing) {
  for (bool onlySkipped : {false, true}) {
    SCOPED_TRACE(onlySkipped ? "only skipped names" : "empty folder");
    TempFolder folder;
    const std::string former = "[file]\r\nvalue_count=1\r\nvalue_key0=old|0\r\nvalue_0=old\r\n";
    if (onlySkipped) {
      WriteBytes(folder / "update_file.ini", former);
      WriteBytes(folder / ".hidden.ini", "x");
      WriteBytes(folder / "Patchwell.exe", "updater");
      fs::create_directory(folder / "sub");
      WriteBytes(folder / "sub" / "inner.bin", "inner");
    }
    const std::vector<std::string> before = FolderNames(folder.path());

    ToolRun run = RunTabulonIn(folder.path());
    EXPECT_EQ(run.output, Opening() + Unopenable(folder.path(), "set.ini") +
                              Unopenable(folder.path(), "game.ini") +
                              Unopenable(folder.path(), "client.ini") + texts::kRunFailed);
    EXPECT_EQ(run.exitCode, 1);
    std::vector<std::string> after = before;
    after.push_back("Tabulon.exe");
    std::sort(after.begin(), after.end());
    EXPECT_EQ(FolderNames(folder.path()), after);
    if (onlySkipped) {
      EXPECT_EQ(ReadBytes(folder / "update_file.ini"), former);
    }
  }
}

}  // namespace
