// The scan's rules for names: which it skips and which the lists can carry.
#include <gtest/gtest.h>

#include "app/name_rules.h"

namespace {

TEST(ScanNames, SkipsDotNamesTheListBothExecutablesAndItselfInAnyCase) {
  // As Windows matches names: ASCII letters in any case, a double-byte character only itself.
  for (const char* name : {".", "..", ".hidden", ".update_file.ini.Ab12Cd", "update_file.ini",
                           "UPDATE_FILE.INI", "Tabulon.exe", "tabulon.EXE", "Patchwell.exe",
                           "PATCHWELL.exe", "Tabulon-1.4.exe", "TABULON-1.4.EXE"}) {
    EXPECT_TRUE(IsSkippedName(name, "Tabulon-1.4.exe")) << name;
  }
  for (const char* name :
       {"client.ini", "set_e.ini", "a.update_file.ini", "update_file.ini.old", "Tabulon.ex",
        "\x81"
        "abulon.exe"}) {
    EXPECT_FALSE(IsSkippedName(name, "Tabulon-1.4.exe")) << name;
  }
  // 0x81 0x41 and 0x81 0x61 are two double-byte characters, not one in two cases.
  EXPECT_FALSE(IsSkippedName("\x81\x41.exe", "\x81\x61.exe"));
  EXPECT_TRUE(IsSkippedName("\x81\x41.EXE", "\x81\x41.exe"));
}

TEST(ScanNames, RefusesNamesAListOrAWindowsClientCannotCarry) {
  for (const char* name :
       {"data.pak", "a=b;c[d]", "'half", "it's", "a.b.c", "\x81\x5C.pak", "\xCA\xFD\xBE\xDD.pak",
        "\x81\x7C", "CONSOLE.txt", "COM0", "LPT10", "nul_file", "con x.txt"}) {
    EXPECT_TRUE(IsListableName(name)) << name;
  }
  for (const char* name :
       {"",         " lead",    "trail ",    "tab\t",   "\"quoted\"", "'single'", "line\nbreak",
        "cr\rx",    "a\x01",    "a:b",       "a*b",     "a?b",        "a|b",      "a<b",
        "a\\b",     "dot.",     "CON",       "con.txt", "Nul.tar.gz", "aux",      "COM1",
        "lpt9.log", "con .txt", "LPT1 .log", "nul  .x"}) {
    EXPECT_FALSE(IsListableName(name)) << name;
  }
}

}  // namespace
