// How the Linux build is started: through a link placed in a release folder, and with its console
// on a terminal, whose text must read right in a UTF-8 locale and stay GBK bytes elsewhere, and
// whose closing wait ends on any key.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "platform/platform.h"
#include "support/test_support.h"
#include "texts/console_texts.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

// The tool started on a fresh pseudo-terminal as its standard input and output, the way a
// person starts it in a terminal window, with the terminal in its usual line mode; killed if the
// test leaves it running.
struct TerminalRun {
  int terminal = -1;  // the side a terminal window holds
  int device = -1;    // the side the tool reads and writes, kept open to ask its modes
  pid_t child = -1;
  int status = -1;  // the wait status once it has ended
  std::string shown;

  explicit TerminalRun(const fs::path& executable) {
    if (::openpty(&terminal, &device, nullptr, nullptr, nullptr) != 0) return;
    char locale[] = "LANG=C";
    char* envp[] = {locale, nullptr};
    child = ::fork();
    if (child == 0) {
      ::setsid();
      ::dup2(device, 0);
      ::dup2(device, 1);
      ::close(terminal);
      ::execle(executable.c_str(), executable.c_str(), nullptr, envp);
      ::_exit(127);
    }
  }
  ~TerminalRun() {
    if (child > 0 && status == -1) {
      ::kill(child, SIGKILL);
      ::waitpid(child, nullptr, 0);
    }
    ::close(terminal);
    ::close(device);
  }

  // The terminal's local modes (ICANON, ECHO, ...) as the tool's side sees them.
  tcflag_t LocalModes() const {
    termios modes{};
    ::tcgetattr(terminal, &modes);
    return modes.c_lflag;
  }
  bool Ended() { return ::waitpid(child, &status, WNOHANG) == child; }

  // Reads what the tool shows until `done` holds and nothing more comes; false after 20 seconds.
  bool ReadUntil(const std::function<bool()>& done) {
    for (int waited = 0; waited < 2000; ++waited) {
      pollfd ready{terminal, POLLIN, 0};
      char buffer[4096];
      ssize_t got = ::poll(&ready, 1, 10) == 1 ? ::read(terminal, buffer, sizeof buffer) : 0;
      if (got > 0) shown.append(buffer, static_cast<size_t>(got));
      if (got <= 0 && done()) return true;
    }
    return false;
  }
};

TEST(StartPosix, OnATerminalTheTextIsUtf8OnlyInAUtf8Locale) {
  TempFolder parent;
  // Each run on a fresh folder of the same path, so that the runs print the same text.
  const fs::path folder = testing_support::Utf8Path(parent.path(), "发布");
  auto run = [&](const std::string& locale, bool onTerminal) {
    fs::remove_all(folder);
    fs::create_directories(folder);
    WriteBytes(folder / "client.ini", "[updateserver]\r\nURL=http://u\r\n");
    WriteBytes(testing_support::Utf8Path(folder, "资源.pak"), "data");
    fs::copy_file(TABULON_EXE_PATH, folder / "Tabulon.exe");
    return RunCommand((folder / "Tabulon.exe").string(), {.environment = {locale},
                                                          .onlyGivenEnvironment = true,
                                                          .folder = folder,
                                                          .onTerminal = onTerminal});
  };
  const ToolRun piped = run("LANG=C.UTF-8", false);
  ASSERT_NE(piped.output.find(texts::kInitializing), std::string::npos);
  struct Case {
    const char* locale;
    bool onTerminal;
    bool utf8;
  };
  for (const Case& c : {Case{"LANG=C.UTF-8", true, true}, Case{"LC_ALL=C.UTF-8", true, true},
                        Case{"LANG=C", true, false}}) {
    SCOPED_TRACE(c.locale);
    ToolRun onTerminal = run(c.locale, c.onTerminal);
    EXPECT_EQ(onTerminal.exitCode, piped.exitCode);
    EXPECT_EQ(onTerminal.output, c.utf8 ? platform::AnsiToUtf8(piped.output) : piped.output);
  }
  // 初始化配置文件信息 in UTF-8.
  EXPECT_EQ(platform::AnsiToUtf8(texts::kInitializing).substr(0, 6), "\xE5\x88\x9D\xE5\xA7\x8B");
}

// The tool works on the folder of the path it was started by, as the system follows it: through
// a link placed in a release folder, with ".." taken from where a link led, or found on PATH,
// where it can only go by the file a link leads to. Started by its name alone it reads its path
// from /proc/self/exe into a buffer of 256 bytes, doubled until the path fits: a path exactly as
// long as each size, one byte shorter and one longer, works too
// (tests/windows/module_path_check.sh does the same for the Windows build).
TEST(StartPosix, TheToolWorksOnTheFolderOfThePathItWasStartedBy) {
  TempFolder parent;
  const fs::path base = fs::canonical(parent.path());
  const fs::path installed = base / "installed";
  const fs::path release = base / "release";
  fs::create_directories(installed / "sub");
  fs::create_directories(release);
  fs::copy_file(TABULON_EXE_PATH, installed / "Tabulon.exe");
  fs::create_symlink(installed / "Tabulon.exe", release / "Tabulon.exe");
  fs::create_directory_symlink(installed / "sub", release / "up");
  struct Case {
    std::string command;
    fs::path worksOn;
    fs::path onPath;
  };
  std::vector<Case> cases = {{(release / "Tabulon.exe").string(), release, release},
                             {"./Tabulon.exe", release, release},
                             {"../release/./Tabulon.exe", release, release},
                             {"up/../Tabulon.exe", installed, release},
                             {"Tabulon.exe", installed, release}};
  for (size_t size = 256; size <= 2048; size *= 2) {
    for (size_t length : {size - 1, size, size + 1}) {
      // Folders of at most 200 characters, so that the path to Tabulon.exe has `length` of them.
      fs::path folder = base / std::to_string(length);
      size_t left = length - (ToolFolderText(folder) + "Tabulon.exe").size();
      for (size_t parts = (left + 200) / 201; parts > 0; --parts) {
        size_t part = (left + parts - 1) / parts;  // a folder name and its separator
        folder /= std::string(part - 1, 'd');
        left -= part;
      }
      fs::create_directories(folder);
      ASSERT_EQ((ToolFolderText(folder) + "Tabulon.exe").size(), length);
      fs::copy_file(TABULON_EXE_PATH, folder / "Tabulon.exe");
      cases.push_back({"Tabulon.exe", folder, folder});
    }
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command + " on " + c.worksOn.string());
    for (const char* written : {"update_file.ini", "client.ini", "client_e.ini"}) {
      fs::remove(c.worksOn / written);
    }
    WriteBytes(c.worksOn / "data.pak", "data");
    ToolRun run = RunCommand(c.command, {.environment = {"PATH=" + c.onPath.string()},
                                         .onlyGivenEnvironment = true,
                                         .folder = release});
    EXPECT_EQ(run.exitCode, 1) << run.output;  // no set.ini, game.ini or client.ini
    EXPECT_TRUE(Contains(run.output, "1::" + (c.worksOn / "data.pak").string())) << run.output;
    EXPECT_TRUE(Contains(ReadBytes(c.worksOn / "client.ini"), "value_key0=data.pak\r\n"));
  }
}

// A release folder whose path is longer than the system's path limit (4,096 bytes): the tool
// started as ./Tabulon.exe from inside it lists, writes and encodes it and prints its whole
// path. The test reaches it only by relative names, one folder at a time.
TEST(StartPosix, AFolderDeeperThanThePathLimit) {
  TempFolder parent;
  const std::string level(200, 'd');
  fs::path deep = parent.path();
  {
    // The current folder is put back however the test ends.
    struct Restore {
      const fs::path before = fs::current_path();
      ~Restore() { fs::current_path(before); }
    } restore;
    fs::current_path(parent.path());
    for (int i = 0; i < 24; ++i) {
      const std::string name = level + (i % 2 == 0 ? "" : "\xE6\xB7\xB1");  // 深
      ASSERT_TRUE(fs::create_directory(name) && ::chdir(name.c_str()) == 0);
      deep /= name;
    }
    ASSERT_GT(deep.string().size(), 4096u);
    WriteConfigFiles(".");
    WriteBytes("data.pak", "data");
    fs::copy_file(TABULON_EXE_PATH, "Tabulon.exe");

    ToolRun run = RunCommand("./Tabulon.exe", {.folder = "."});
    const List files = {{"client.ini", Md5Hex(kClientIni)},
                        {"data.pak", Md5Hex("data")},
                        {"game.ini", Md5Hex(kGameIni)},
                        {"set.ini", Md5Hex(kSetIni)}};
    ExpectOutput(run.output, ListedAll(deep, files) + texts::kRunSucceeded);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(ReadBytes("update_file.ini"), NewListFile(UpdateList(files, kUrl)));
    EXPECT_EQ(ReadBytes("client.ini"), kClientIni + NewListFile(files));
    EXPECT_EQ(FolderNames("."),
              (std::vector<std::string>{"Tabulon.exe", "client.ini", "client_e.ini", "data.pak",
                                        "game.ini", "game_e.ini", "set.ini", "set_e.ini",
                                        "update_file.ini"}));
  }
  // rm walks a tree of any depth; the removal of the temporary folder does not.
  std::string remove = "rm -rf '" + (parent.path() / level).string() + "'";
  EXPECT_EQ(std::system(remove.c_str()), 0);
}

}  // namespace

// "按任意键关闭": one key ends the wait, without Enter and without being shown, and the terminal
// is back in line mode with echo afterwards; a signal during the wait puts the terminal back
// too and then ends the tool as it would have.
TEST(StartPosix, OnATerminalAnyKeyEndsTheWaitAndTheTerminalIsPutBack) {
  TempFolder folder;
  testing_support::WriteConfigFiles(folder.path());
  fs::copy_file(TABULON_EXE_PATH, folder / "Tabulon.exe");
  // The terminal in line mode shows each LF as CR LF.
  const std::string closing =
      std::string(texts::kRunSucceeded, sizeof texts::kRunSucceeded - 2) + "\r\n";
  for (int signal : {0, SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal == 0 ? "a key" : strsignal(signal));
    TerminalRun run(folder / "Tabulon.exe");
    ASSERT_GT(run.child, 0);
    ASSERT_TRUE(run.ReadUntil([&] { return run.shown.ends_with(closing); })) << run.shown;
    ASSERT_TRUE(run.ReadUntil([&] { return (run.LocalModes() & ICANON) == 0; }))
        << "the wait keeps the terminal in line mode";
    EXPECT_EQ(run.LocalModes() & ECHO, 0u);
    if (signal == 0) {
      ASSERT_EQ(::write(run.terminal, "x", 1), 1);
    } else {
      ::kill(run.child, signal);
    }
    ASSERT_TRUE(run.ReadUntil([&] { return run.Ended(); })) << "one key did not end the wait";
    if (signal == 0) {
      EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.status;
    } else {
      EXPECT_TRUE(WIFSIGNALED(run.status) && WTERMSIG(run.status) == signal) << run.status;
    }
    EXPECT_EQ(run.LocalModes() & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO));
    EXPECT_TRUE(run.shown.ends_with(closing)) << "the key was shown";
  }
}

// The sample script deletes nothing: a folder named to it that exists, empty or not, a file or a
// link, is refused and left as it was, before anything is built.
TEST(StartPosix, TheSampleScriptRefusesAFolderThatExists) {
  TempFolder parent;
  WriteBytes(parent / "keep.txt", "kept");
  fs::create_directory(parent / "empty");
  fs::create_symlink(parent.path(), parent / "link");
  for (const char* name : {"", "keep.txt", "empty", "link"}) {
    SCOPED_TRACE(name);
    const fs::path folder = parent.path() / name;
    const std::string command = "bash '" TABULON_SOURCE_DIR "/scripts/run-sample.sh' '" +
                                folder.string() + "' >/dev/null 2>&1";
    EXPECT_NE(std::system(command.c_str()), 0);
    EXPECT_EQ(ReadBytes(parent / "keep.txt"), "kept");
    EXPECT_TRUE(fs::is_directory(parent / "empty") && fs::is_symlink(parent / "link"));
  }
}
