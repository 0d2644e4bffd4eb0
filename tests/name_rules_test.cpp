// The scan's rules for names: which it skips and which the lists can carry.
#include "app/name_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(NameRules, SkipsDotNamesTheListBothExecutablesAndItselfInAnyCase) {
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

TEST(NameRules, RefusesNamesAListOrAWindowsClientCannotCarry) {
  for (const char* name : {"data.pak", "a=b;c[d]", "'half", "it's", "a.b.c", "\x81\x5C.pak",
                           "\xCA\xFD\xBE\xDD.pak", "\x81\x7C"}) {
    EXPECT_TRUE(IsListableName(name)) << name;
  }
  for (const char* name : {"", " lead", "trail ", "tab\t", "\"quoted\"", "'single'", "line\nbreak",
                           "cr\rx", "a\x01", "a:b", "a*b", "a?b", "a|b", "a<b", "a\\b", "dot."}) {
    EXPECT_FALSE(IsListableName(name)) << name;
  }
}

// A device name opens the device on Windows, not a file: alone or before an extension, in any
// case, with blanks before the extension. Every device name in every such form is refused;
// names that only look like one are files.
TEST(NameRules, EveryDeviceNameIsRefusedInEveryForm) {
  std::vector<std::string> devices = {"CON", "PRN", "AUX", "NUL"};
  for (char digit = '1'; digit <= '9'; ++digit) {
    devices.push_back(std::string("COM") + digit);
    devices.push_back(std::string("LPT") + digit);
  }
  for (const std::string& device : devices) {
    std::string lower = device;
    for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    for (const std::string& stem : {device, lower, device.substr(0, 1) + lower.substr(1)}) {
      for (const char* tail : {"", ".txt", ".tar.gz", " .log", "   .x", ".ini.bak"}) {
        EXPECT_FALSE(IsListableName(stem + tail)) << stem + tail;
      }
      for (const std::string& lookalike :
           {stem + "X", "X" + stem, stem + "_1.txt", stem + "-log", stem + " x.txt",
            stem.substr(0, 3) + "0", stem.substr(0, 3) + "10.txt"}) {
        EXPECT_TRUE(IsListableName(lookalike)) << lookalike;
      }
    }
  }
}

}  // namespace
