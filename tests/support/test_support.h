// Helpers shared by the tests: temporary folders, whole-file bytes and runs of the built tool.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>

namespace testing_support {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, removed with everything in it (read-only
// files included) when the object goes.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const fs::path& path() const { return m_Path; }
  fs::path operator/(std::string_view utf8Name) const;

 private:
  fs::path m_Path;
};

// Writes `bytes` as the whole content of `path`, creating or replacing it.
void WriteBytes(const fs::path& path, std::string_view bytes);

// The whole content of `path`; empty when it cannot be read.
std::string ReadBytes(const fs::path& path);

// Path of a file named by UTF-8 text (how the tests spell non-ASCII names).
fs::path Utf8Path(const fs::path& folder, std::string_view utf8Name);

struct ToolRun {
  int exitCode = -1;
  // Everything the tool wrote to standard output, as bytes, with the CR LF that a Windows
  // text-mode console stream writes for each LF turned back into LF.
  std::string output;
};

// `folder` as the tool prints it as the start of a full path: in the ANSI code page, ending in
// the path separator ("/tmp/x/" here, "Z:\\tmp\\x\\" for the Windows build under Wine).
std::string ToolFolderText(const fs::path& folder);

// Copies the built Tabulon.exe into `folder` and runs that copy with another current folder and
// standard input at its end. `executableName` lets a test name the copy differently.
ToolRun RunTabulonIn(const fs::path& folder, std::string_view executableName = "Tabulon.exe");

// Runs the executable at `executable` as above, without copying it.
ToolRun RunExecutable(const fs::path& executable);

// True for the Windows build of the tests (run under Wine here), whose runs cost more.
bool IsWindowsBuild();

// The MD5 digest (lowercase hex) of every regular file directly in `folder`, keyed by its name in
// the ANSI code page, as an implementation independent of the tool's gives it: md5sum on POSIX,
// the system's cryptography service on Windows. Empty when it cannot be had.
std::map<std::string, std::string> IndependentDigests(const fs::path& folder);

}  // namespace testing_support
