// Hostile inputs that any system can hold, run end to end through the built Tabulon.exe: names
// with the INI format's own characters or that no INI value can carry, INI files in unusual
// shapes and sizes, read-only lists, folders with nothing to list. hostile_inputs.md lists every
// case with its outcome; hostile_inputs_posix_test.cpp holds the cases that need POSIX
// facilities.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "inilist/ini_store.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

// Names built from the INI format's own characters, a lone quote, quotes that do not match,
// an empty file and a double-byte name whose second byte is 0x5C are all listed and read back
// unchanged.
TEST(HostileInputs, NamesWithIniCharactersAreListedAndReadBackExactly) {
  TempFolder folder;
  WriteConfigFiles(folder.path());
  for (const char* name : {"'", "'odd.bin", ";semi.bin", "=equals=.bin", "[bracket].bin",
                           "\xE4\xB9\x97.bin"}) {  // 乗.bin, 0x81 0x5C in code page 936
    WriteBytes(folder / name, name);
  }
  WriteBytes(folder / "0-empty.bin", "");

  ToolRun run = RunTabulonIn(folder.path());
  EXPECT_EQ(run.exitCode, 0);
  ExpectGolden("ini_characters", folder.path(), run, {"client.ini", "update_file.ini"});
  // A reader gets every name back unchanged, in byte order.
  std::string clientIni = ReadBytes(folder / "client.ini");
  std::vector<std::string> readBack;
  for (int i = 0; i < 10; ++i) {
    readBack.push_back(ReadIniValue(clientIni, "file", "value_key" + std::to_string(i), ""));
  }
  EXPECT_EQ(readBack, (std::vector<std::string>{"'", "'odd.bin", "0-empty.bin", ";semi.bin",
                                                "=equals=.bin", "[bracket].bin", "client.ini",
                                                "game.ini", "set.ini", "\x81\x5C.bin"}));
}

// Names an INI value would read back as something else (blanks or Ctrl+Z at an end, CR or LF,
// wrapped in quotes) or with no exact form in code page 936 are each counted and refused, and the
// run fails; the other files are listed as usual. Names the system cannot hold are left out
// (Windows refuses control characters and quotes, drops trailing blanks, needs UTF-8).
TEST(HostileInputs, NamesNoIniValueCanCarryAreRefused) {
  TempFolder folder;
  struct Name {
    std::string onDisk;  // UTF-8, or bytes that are no UTF-8
    std::string shown;   // in the ANSI code page, '?' for what does not convert
    bool refused;
  };
  // In the order the folder is listed.
  const std::vector<Name> names = {
      {"\tlead-tab.bin", "\tlead-tab.bin", true},
      {"\032ctrl-z.bin", "\032ctrl-z.bin", true},  // Ctrl+Z, written in octal
      {" lead.bin", " lead.bin", true},
      {"\"double-quoted\"", "\"double-quoted\"", true},
      {"'quoted'", "'quoted'", true},
      {"bad-\xFF.bin", "bad-?.bin", true},
      {"cr\rin.bin", "cr\rin.bin", true},
      {"game.ini", "game.ini", false},
      {"line\nbreak", "line\nbreak", true},
      {"ok.bin", "ok.bin", false},
      {"set.ini", "set.ini", false},
      {"trail-tab.bin\t", "trail-tab.bin\t", true},
      {"trail.bin ", "trail.bin ", true},
      {"\xE0\xB8\x81.bin", "?.bin", true},  // a Thai letter
  };
  std::string expected = Opening();
  List listed;
  int count = 0;
  for (const Name& name : names) {
    if (!CreateNamedExactly(folder.path(), name.onDisk, name.onDisk)) continue;
    ++count;
    if (name.refused) {
      expected += Refused(count, folder.path(), name.shown);
    } else {
      listed.emplace_back(name.shown, Md5Hex(name.onDisk));
      expected += Listed(count, folder.path(), name.shown, listed.back().second);
    }
  }
  ASSERT_GT(count, 3) << "no refused name could be made";

  ToolRun run = RunTabulonIn(folder.path());
  // Without client.ini there is no server URL: update_file.ini is not written.
  ExpectOutput(run.output, expected + texts::kRunFailed,
               {WriteFailed(folder.path(), "update_file.ini")});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(ReadBytes(folder / "client.ini"), NewListFile(listed));
  EXPECT_FALSE(fs::exists(folder / "update_file.ini"));
}

// client.ini in unusual shapes, next to game.ini, set.ini, 乗.bin and a former update_file.ini.
// It is listed first, so it is digested as it was before the run. The list goes into its first
// [file] section and every other byte stays (tests/golden/ini_shapes/<shape>/). Without a server
// URL (no client.ini, no [updateserver] section, an empty URL, one of blanks only) no address can
// be formed: update_file.ini is not written and keeps its bytes, and the run fails.
struct IniShape {
  const char* name;
  std::string before;  // kNoFile: no client.ini
  int exitCode = 0;
};

constexpr char kNoFile[] = "<no file>";

void PrintTo(const IniShape& shape, std::ostream* out) { *out << shape.name; }

class IniShapes : public testing::TestWithParam<IniShape> {};

TEST_P(IniShapes, ListGoesIntoTheFirstFileSectionAndEverythingElseStays) {
  const IniShape& shape = GetParam();
  TempFolder folder;
  WriteConfigFiles(folder.path(), false);
  if (shape.before != kNoFile) WriteBytes(folder / "client.ini", shape.before);
  WriteBytes(folder / "\xE4\xB9\x97.bin", "data");  // 乗.bin
  WriteBytes(folder / "update_file.ini",
             "[file]\r\nvalue_count=1\r\nvalue_key0=old|0\r\nvalue_0=old\r\n");

  ToolRun run = RunTabulonIn(folder.path());
  EXPECT_EQ(run.exitCode, shape.exitCode);
  ExpectGolden(std::string("ini_shapes/") + shape.name, folder.path(), run,
               {"client.ini", "update_file.ini"});
}

INSTANTIATE_TEST_SUITE_P(
    HostileInputs, IniShapes,
    testing::Values(
        IniShape{"Utf8ByteOrderMark",
                 "\xEF\xBB\xBF[updateserver]\r\nURL=http://cdn.example/\xE6\xB8\xB8\xE6\x88\x8F\r\n"
                 "[file]\r\n"},
        IniShape{"CarriageReturnLineEnds",
                 "[updateserver]\rURL=http://cdn.example/cr\r[file]\rvalue_count=9\r"
                 "value_key0=old.bin\rvalue_0=0\r\r[launcher]\rx=1\r"},
        IniShape{"SectionNameInCapitals",
                 "[updateserver]\r\nURL=http://cdn.example/up\r\n[FILE]\r\nValue_Count = 1\r\n"
                 "VALUE_KEY0=old.bin\r\nvalue_0=0123\r\n"},
        IniShape{"DuplicateFileSections",
                 "[file]\r\nvalue_count=0\r\n[updateserver]\r\nURL=http://cdn.example/dup\r\n"
                 "[file]\r\nvalue_count=7\r\nvalue_key0=second.bin\r\n"},
        IniShape{"UrlOf5000Bytes",
                 "[updateserver]\nURL=http://cdn.example/" + std::string(5000, 'u') + "\n"},
        IniShape{"NoClientIni", kNoFile, 1},
        IniShape{"NoUpdateServerSection", "[launcher]\r\ntitle=x\r\n", 1},
        IniShape{"EmptyUrl", "[updateserver]\r\nURL=\r\n", 1},
        IniShape{"UrlOfBlanksOnly", "[updateserver]\r\nURL=  \r\n", 1}),
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

  WriteConfigFiles(folder.path(), false);
  WriteBytes(folder / "client.ini", clientBefore);
  WriteBytes(folder / "update_file.ini", updateBefore);
  WriteBytes(folder / "z.bin", "z");

  ToolRun run = RunTabulonIn(folder.path());
  const List files = {{"client.ini", Md5Hex(clientBefore)},
                      {"game.ini", Md5Hex(kGameIni)},
                      {"set.ini", Md5Hex(kSetIni)},
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

// A list file without write permission is refused and kept with its mode, even for root; the
// other list is still written, and the run says it failed (tests/golden/read_only/<file>/).
TEST(HostileInputs, ReadOnlyListFileIsReportedOnceAndKept) {
  for (const std::string readOnly : {"update_file.ini", "client.ini"}) {
    SCOPED_TRACE(readOnly);
    TempFolder folder;
    WriteConfigFiles(folder.path());
    WriteBytes(folder / "z.bin", "z");
    WriteBytes(folder / "update_file.ini",
               "[file]\r\nvalue_count=1\r\nvalue_key0=old|0\r\nvalue_0=old\r\n");
    const std::string before = ReadBytes(folder / readOnly);
    const auto mode = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
    fs::permissions(folder / readOnly, mode);

    ToolRun run = RunTabulonIn(folder.path());
    EXPECT_EQ(run.exitCode, 1);
    ExpectGolden("read_only/" + readOnly, folder.path(), run, {"update_file.ini", "client.ini"});
    EXPECT_EQ(ReadBytes(folder / readOnly), before);
    EXPECT_EQ(fs::status(folder / readOnly).permissions() & fs::perms::all, mode);
  }
}

// A file another program holds open for writing: Windows refuses to share it for reading alone,
// so it is told unreadable and the run fails; elsewhere nothing stops the read, and a change
// while it is read would show.
TEST(HostileInputs, AFileHeldOpenForWriting) {
  TempFolder folder;
  WriteConfigFiles(folder.path());
  WriteBytes(folder / "z.bin", "z");
  std::ofstream writer(folder / "z.bin", std::ios::binary | std::ios::app);
  ASSERT_TRUE(writer.is_open());

  ToolRun run = RunTabulonIn(folder.path());
  const List files = {{"client.ini", Md5Hex(kClientIni)},
                      {"game.ini", Md5Hex(kGameIni)},
                      {"set.ini", Md5Hex(kSetIni)}};
  ExpectOutput(run.output,
               ListedAll(folder.path(), files) +
                   (IsWindowsBuild()
                        ? Unreadable(4, folder.path(), "z.bin") + texts::kRunFailed
                        : Listed(4, folder.path(), "z.bin", Md5Hex("z")) + texts::kRunSucceeded));
  EXPECT_EQ(run.exitCode, IsWindowsBuild() ? 1 : 0);
}

// The names the tool knows, spelled as a folder prepared on Windows may spell them: the tool
// works on the spelling that exists and keeps it, skips its own executable under any name, and
// refuses what no Windows folder could hold (tests/golden/known_names/<case>/). Cases with two
// names equal but for case exist only where case counts; elsewhere they are skipped.
struct KnownNamesCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> files;  // UTF-8 name, bytes or kAFolder
  const char* executable;
  int exitCode;
  std::vector<std::string> compared;  // files compared with the committed ones
  std::vector<std::string> after;     // every name in the folder after the run
};

constexpr char kAFolder[] = "<a folder>";

void PrintTo(const KnownNamesCase& known, std::ostream* out) { *out << known.name; }

class KnownNames : public testing::TestWithParam<KnownNamesCase> {};

TEST_P(KnownNames, TheToolWorksOnTheSpellingThatExists) {
  const KnownNamesCase& known = GetParam();
  TempFolder folder;
  for (const auto& [name, bytes] : known.files) {
    if (bytes == kAFolder) {
      fs::create_directory(folder / name);
    } else if (!CreateNamedExactly(folder.path(), name, bytes)) {
      GTEST_SKIP() << "this system cannot hold " << name << " beside its other spelling";
    }
  }
  ToolRun run = RunTabulonIn(folder.path(), known.executable);
  EXPECT_EQ(run.exitCode, known.exitCode);
  ExpectGolden(std::string("known_names/") + known.name, folder.path(), run, known.compared);
  EXPECT_EQ(FolderNames(folder.path()), known.after);
}

const std::string kFormerList = "[file]\r\nvalue_count=1\r\nvalue_key0=old|0\r\nvalue_0=old\r\n";

INSTANTIATE_TEST_SUITE_P(
    HostileInputs, KnownNames,
    testing::Values(
        KnownNamesCase{
            "OtherLetterCase",
            {{"Client.ini", kClientIni},
             {"SET.INI", kSetIni},
             {"Game.Ini", kGameIni},
             {"UPDATE_FILE.INI", kFormerList},
             {"Set_E.ini", "old copy"},
             {"tabulon.exe", "a former tool"},
             {"PATCHWELL.EXE", "the updater"},
             {"data.pak", "data"}},
            "Tabulon-1.4.exe",
            0,
            {"Client.ini", "UPDATE_FILE.INI", "Set_E.ini", "game_e.ini", "client_e.ini"},
            {"Client.ini", "Game.Ini", "PATCHWELL.EXE", "SET.INI", "Set_E.ini", "Tabulon-1.4.exe",
             "UPDATE_FILE.INI", "client_e.ini", "data.pak", "game_e.ini", "tabulon.exe"}},
        KnownNamesCase{"ClientIniIsAFolder",
                       {{"Client.ini", kAFolder},
                        {"set.ini", kSetIni},
                        {"game.ini", kGameIni},
                        {"data.pak", "data"}},
                       "Tabulon.exe",
                       1,
                       {"set_e.ini", "game_e.ini"},
                       {"Client.ini", "Tabulon.exe", "data.pak", "game.ini", "game_e.ini",
                        "set.ini", "set_e.ini"}},
        KnownNamesCase{"ClientIniSpelledTwice",
                       {{"client.ini", kClientIni},
                        {"CLIENT.INI", "[updateserver]\r\nURL=http://other.example\r\n"},
                        {"set.ini", kSetIni},
                        {"game.ini", kGameIni},
                        {"data.pak", "data"}},
                       "Tabulon.exe",
                       1,
                       {"client.ini", "CLIENT.INI", "set_e.ini", "game_e.ini"},
                       {"CLIENT.INI", "Tabulon.exe", "client.ini", "data.pak", "game.ini",
                        "game_e.ini", "set.ini", "set_e.ini"}},
        KnownNamesCase{"NamesEqualButForCase",
                       {{"README.txt", "upper"},
                        {"Readme.txt", "mixed"},
                        {"client.ini", kClientIni},
                        {"set.ini", kSetIni},
                        {"game.ini", kGameIni}},
                       "Tabulon.exe",
                       1,
                       {"client.ini", "update_file.ini"},
                       {"README.txt", "Readme.txt", "Tabulon.exe", "client.ini", "client_e.ini",
                        "game.ini", "game_e.ini", "set.ini", "set_e.ini", "update_file.ini"}}),
    [](const testing::TestParamInfo<KnownNamesCase>& info) {
      return std::string(info.param.name);
    });

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
    std::vector<std::string> after = FolderNames(folder.path());
    after.push_back("Tabulon.exe");
    std::sort(after.begin(), after.end());

    ToolRun run = RunTabulonIn(folder.path());
    EXPECT_EQ(run.output, Opening() + Unopenable(folder.path(), "set.ini") +
                              Unopenable(folder.path(), "game.ini") +
                              Unopenable(folder.path(), "client.ini") + texts::kRunFailed);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(FolderNames(folder.path()), after);
    if (onlySkipped) {
      EXPECT_EQ(ReadBytes(folder / "update_file.ini"), former);
    }
  }
}

}  // namespace
