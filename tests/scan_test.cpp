// The scan's rules for names: which it skips and which the lists can carry.
#include <gtest/gtest.h>

#include "app/name_rules.h"

namespace {

TEST(ScanNames, SkipsDotNamesTheListAndBothExecutablesOnly) {
  for (const char* name : {".", "..", ".hidden", ".update_file.ini.Ab12Cd", "update_file.ini",
                           "Tabulon.exe", "Patchwell.exe"}) {
    EXPECT_TRUE(IsSkippedName(name)) << name;
  }
  // Equality is case-sensitive: only the exact names are skipped.
  for (const char* name : {"UPDATE_FILE.INI", "tabulon.exe", "Patchwell.EXE", "client.ini",
                           "set_e.ini", "a.update_file.ini"}) {
    EXPECT_FALSE(IsSkippedName(name)) << name;
  }
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
