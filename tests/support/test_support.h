// Helpers shared by the tests: temporary folders and file bytes, runs of the built tool, the
// console texts and list files a run should give, and the committed outputs of whole runs.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "texts/console_texts.h"

namespace testing_support {

namespace fs = std::filesystem;

// ---- Folders and files ---------------------------------------------------------------------

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

// `folder` opened as the tool opens its own; the tests name its files in the ANSI code page.
platform::Folder OpenFolder(const fs::path& folder);

// Writes `bytes` as the whole content of `path`, creating or replacing it.
void WriteBytes(const fs::path& path, std::string_view bytes);

// The whole content of `path`; empty when it cannot be read.
std::string ReadBytes(const fs::path& path);

// Path of a file named by UTF-8 text (how the tests spell non-ASCII names).
fs::path Utf8Path(const fs::path& folder, std::string_view utf8Name);

// `path` as text in the ANSI code page, as the tool spells names.
std::string AnsiText(const fs::path& path);

// The names in `folder`, as UTF-8, sorted.
std::vector<std::string> FolderNames(const fs::path& folder);

// Creates a file holding `bytes` whose name the folder lists back exactly as `utf8Name`; false,
// with no file left, where the system refuses the name or changes it (Windows drops a trailing
// blank and refuses control characters).
bool CreateNamedExactly(const fs::path& folder, std::string_view utf8Name, std::string_view bytes);

// The MD5 digest of `bytes` as lowercase hex.
std::string Md5Hex(std::string_view bytes);

bool Contains(std::string_view haystack, std::string_view needle);

// ---- The configuration files of a release folder ------------------------------------------

inline constexpr char kUrl[] = "http://cdn.example/game";
inline constexpr char kClientIni[] = "[updateserver]\r\nURL=http://cdn.example/game\r\n";
inline constexpr char kSetIni[] = "[video]\r\nwidth=800\r\n";
inline constexpr char kGameIni[] = "[game]\nid=7\n";

// Writes set.ini and game.ini into `folder`, and client.ini unless `withClientIni` is false.
void WriteConfigFiles(const fs::path& folder, bool withClientIni = true);

// ---- Runs of the built tool ----------------------------------------------------------------

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

// A run of the copy of Tabulon.exe in `folder` (made by RunTabulonIn) with its standard output
// redirected, and the number of write calls the system got for that output: counted with strace
// on POSIX systems (output to a file), on Windows as the messages of a message-mode pipe (one
// per write, on Windows as under Wine). `writes` is -1, with the reason in `unavailable`, where
// they cannot be counted.
struct CountedRun {
  ToolRun run;
  int writes = -1;
  std::string unavailable;
};
CountedRun RunCountingOutputWrites(const fs::path& folder);

// True for the Windows build of the tests (run under Wine here), whose runs cost more.
bool IsWindowsBuild();

// The MD5 digest (lowercase hex) of every regular file directly in `folder`, keyed by its name in
// the ANSI code page, as an implementation independent of the tool's gives it: md5sum on POSIX,
// the system's cryptography service on Windows. Empty when it cannot be had.
std::map<std::string, std::string> IndependentDigests(const fs::path& folder);

// POSIX builds only (run_tool_posix.cpp): how RunCommand starts the tool.
struct PosixStart {
  // "NAME=value" entries added to (or replacing those of) the test's environment; with
  // `onlyGivenEnvironment`, the whole environment.
  std::vector<std::string> environment = {};
  bool onlyGivenEnvironment = false;
  // The working folder; the tool must find its folder from its own path, not from this one.
  fs::path folder = "/";
  // Standard output on a pseudo-terminal that passes bytes through unchanged, not on a pipe.
  bool onTerminal = false;
  // As the unprivileged user nobody, when the tests run as root.
  bool unprivileged = false;
};

// POSIX builds only: runs `command`, a path or a name looked up on the PATH of the environment
// it gets, with standard input at its end, as `how` says.
ToolRun RunCommand(const std::string& command, const PosixStart& how);

// POSIX builds only: gives `folder` and everything in it to the user an unprivileged run runs as,
// so that the tool can write there. Does nothing unless the tests run as root.
void GiveToUnprivilegedUser(const fs::path& folder);

// ---- Console texts of a run, GBK bytes with their arguments filled in ----------------------

template <typename... Args>
std::string Text(const char* format, Args... args) {
  std::string text(8192, '\0');
  int length = std::snprintf(text.data(), text.size(), format, args...);
  EXPECT_TRUE(length >= 0 && static_cast<size_t>(length) < text.size());
  text.resize(static_cast<size_t>(length));
  return text;
}

// The two lines every run starts with.
std::string Opening();
// The line of the `count`th entry of `folder` the scan reaches, named `name` (ANSI).
std::string Started(int count, const fs::path& folder, const std::string& name);
// Started() and the line of a file that was listed with `digest`, refused for its name, or
// could not be read.
std::string Listed(int count, const fs::path& folder, const std::string& name,
                   const std::string& digest);
std::string Refused(int count, const fs::path& folder, const std::string& name);
std::string Unreadable(int count, const fs::path& folder, const std::string& name);
std::string WriteFailed(const fs::path& folder, const std::string& name);
std::string Unopenable(const fs::path& folder, const std::string& name);

// (name, digest) of files or (key, value) of list entries, in order.
using List = std::vector<std::pair<std::string, std::string>>;

// Opening() and the lines of every file of `files` (name, digest), counted from 1.
std::string ListedAll(const fs::path& folder, const List& files);

// The console output must be `expected` once each of `toldOnce` (told wherever the run writes
// a list) has been taken out; each of those must appear exactly once.
void ExpectOutput(std::string output, const std::string& expected,
                  const std::vector<std::string>& toldOnce = {});

// ---- List files ----------------------------------------------------------------------------

// "value_key<i>=key\r\nvalue_<i>=value\r\n" for each entry, from index 0.
std::string Entries(const List& list);

// A whole list section as the tool writes it into a new file.
std::string NewListFile(const List& list);

// The update list of `files` (name, digest), already in key order, with addresses under `url`.
List UpdateList(const List& files, const std::string& url);

// The current entries of section [file] of an INI file the tool wrote: value_key<i> ->
// value_<i> for i below value_count. A missing index shows as an entry "<missing i>".
std::map<std::string, std::string> CurrentList(const std::string& ini);

// Equality of large texts without printing them whole.
void ExpectSameBytes(const std::string& actual, const std::string& expected, const char* what);

// ---- Committed outputs of whole runs: tests/golden/<name>/ --------------------------------

// Compares the run of the tool in `folder` with the committed outputs of case `name`: its console
// text (console.txt, holding "<folder>" where the tool prints ToolFolderText(folder)) and each
// of `files`, byte for byte. With the environment variable TABULON_UPDATE_GOLDEN set, writes
// them there instead, to be checked by eye before they are committed.
void ExpectGolden(const std::string& name, const fs::path& folder, const ToolRun& run,
                  const std::vector<std::string>& files);

}  // namespace testing_support
