// The Windows attributes a run keeps on the files it replaces.
#include <windows.h>

#include "support/test_support.h"

namespace {

using namespace testing_support;

DWORD Attributes(const fs::path& path) { return GetFileAttributesW(path.wstring().c_str()); }

// A list or an encoded copy marked hidden or system (as a release is packed so that players leave
// it alone) keeps those marks when the run replaces it; a file without them does not take the
// hidden mark of the temporary file (a name beginning with a dot) that replaced it.
TEST(AttributesWindows, ReplacedFilesKeepHiddenAndSystem) {
  TempFolder folder;
  WriteConfigFiles(folder.path());
  WriteBytes(folder / "z.bin", "z");
  constexpr DWORD kMarks = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  const struct {
    const char* name;
    DWORD marks;
  } files[] = {{"update_file.ini", kMarks},
               {"client.ini", FILE_ATTRIBUTE_HIDDEN},
               {"set_e.ini", FILE_ATTRIBUTE_SYSTEM},
               {"game_e.ini", 0}};
  for (const auto& file : files) {
    if (!fs::exists(folder / file.name)) WriteBytes(folder / file.name, "old\r\n");
    if (file.marks == 0) continue;
    SetFileAttributesW((folder / file.name).wstring().c_str(), file.marks);
    if ((Attributes(folder / file.name) & kMarks) != file.marks) {
      GTEST_SKIP() << "this file system keeps no hidden or system mark";
    }
  }
  ToolRun run = RunTabulonIn(folder.path());
  ASSERT_EQ(run.exitCode, 0) << run.output;
  for (const auto& file : files) {
    SCOPED_TRACE(file.name);
    EXPECT_NE(ReadBytes(folder / file.name), "old\r\n");
    EXPECT_EQ(Attributes(folder / file.name) & kMarks, file.marks);
  }
}

}  // namespace
