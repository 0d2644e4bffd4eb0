// How the Linux build is started: through a link placed in a release folder, and with its console
// on a terminal, whose text must read right in a UTF-8 locale and stay GBK bytes elsewhere.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/console_texts.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ReadBytes;
using testing_support::TempFolder;
using testing_support::WriteBytes;

struct Started {
  int exitCode = -1;
  std::string output;
};

// Starts `command` in `folder` (a command without a slash is looked up on the PATH of
// `environment`) with only the variables of `environment`, standard input at its end and standard
// output on a pipe or, with `onTerminal`, on a pseudo-terminal that passes bytes through unchanged.
Started Start(const std::string& command, const fs::path& folder,
              const std::vector<std::string>& environment, bool onTerminal) {
  Started started;
  int readFd = -1;
  int writeFd = -1;
  if (onTerminal) {
    if (::openpty(&readFd, &writeFd, nullptr, nullptr, nullptr) != 0) return started;
    termios raw;
    ::tcgetattr(writeFd, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(writeFd, TCSANOW, &raw);
  } else {
    int fds[2];
    if (::pipe(fds) != 0) return started;
    readFd = fds[0];
    writeFd = fds[1];
  }
  pid_t child = ::fork();
  if (child == 0) {
    if (::chdir(folder.c_str()) != 0) ::_exit(126);
    int input = ::open("/dev/null", O_RDONLY);
    ::dup2(input, 0);
    ::dup2(writeFd, 1);
    ::close(readFd);
    ::close(writeFd);
    ::clearenv();
    for (const std::string& variable : environment) ::putenv(const_cast<char*>(variable.c_str()));
    char* arguments[] = {const_cast<char*>(command.c_str()), nullptr};
    ::execvp(command.c_str(), arguments);
    ::_exit(127);
  }
  ::close(writeFd);
  char buffer[4096];
  ssize_t got;
  // A terminal's reading end reports EIO once the child has closed its side.
  while ((got = ::read(readFd, buffer, sizeof buffer)) > 0) {
    started.output.append(buffer, static_cast<size_t>(got));
  }
  ::close(readFd);
  int status = 0;
  ::waitpid(child, &status, 0);
  started.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return started;
}

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
    return Start((folder / "Tabulon.exe").string(), folder, {locale}, onTerminal);
  };
  const Started piped = run("LANG=C.UTF-8", false);
  ASSERT_NE(piped.output.find(texts::kInitializing), std::string::npos);
  struct Case {
    const char* locale;
    bool onTerminal;
    bool utf8;
  };
  for (const Case& c : {Case{"LANG=C.UTF-8", true, true}, Case{"LC_ALL=C.UTF-8", true, true},
                        Case{"LANG=C", true, false}}) {
    SCOPED_TRACE(c.locale);
    Started onTerminal = run(c.locale, c.onTerminal);
    EXPECT_EQ(onTerminal.exitCode, piped.exitCode);
    EXPECT_EQ(onTerminal.output, c.utf8 ? platform::AnsiToUtf8(piped.output) : piped.output);
  }
  // 初始化配置文件信息 in UTF-8.
  EXPECT_EQ(platform::AnsiToUtf8(texts::kInitializing).substr(0, 6), "\xE5\x88\x9D\xE5\xA7\x8B");
}

TEST(StartPosix, ALinkInAReleaseFolderWorksOnThatFolder) {
  TempFolder parent;
  const fs::path installed = parent.path() / "installed";
  const fs::path release = parent.path() / "release";
  fs::create_directories(installed);
  fs::create_directories(release);
  fs::copy_file(TABULON_EXE_PATH, installed / "Tabulon.exe");
  fs::create_symlink(installed / "Tabulon.exe", release / "Tabulon.exe");
  WriteBytes(release / "data.pak", "data");
  WriteBytes(installed / "data.pak", "data");

  struct Case {
    std::string command;
    fs::path worksOn;
  };
  // Started without a path, the tool can only go by the file the link leads to.
  for (const Case& c :
       {Case{(release / "Tabulon.exe").string(), release}, Case{"./Tabulon.exe", release},
        Case{"../release/./Tabulon.exe", release}, Case{"Tabulon.exe", installed}}) {
    SCOPED_TRACE(c.command);
    for (const fs::path& folder : {release, installed}) {
      for (const char* written : {"update_file.ini", "client.ini", "client_e.ini"}) {
        fs::remove(folder / written);
      }
    }
    Started run = Start(c.command, release, {"PATH=" + release.string()}, false);
    EXPECT_EQ(run.exitCode, 1) << run.output;  // no set.ini, game.ini or client.ini
    EXPECT_NE(run.output.find("1::" + (c.worksOn / "data.pak").string()), std::string::npos)
        << run.output;
    EXPECT_NE(ReadBytes(c.worksOn / "update_file.ini").find("value_key0=data.pak|"),
              std::string::npos);
  }
}

}  // namespace
