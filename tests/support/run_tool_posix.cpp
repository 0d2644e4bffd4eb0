// Starting the built tool on POSIX systems.
#include <fcntl.h>
#include <grp.h>
#include <pty.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "platform/platform.h"
#include "support/test_support.h"

extern char** environ;

namespace testing_support {

namespace {

// The user and group nobody, under which a run cannot read what only its owner may read.
constexpr uid_t kUnprivilegedId = 65534;

bool RunsAsRoot() { return ::geteuid() == 0; }

}  // namespace

std::string ToolFolderText(const fs::path& folder) { return AnsiText(folder) + "/"; }

ToolRun RunExecutable(const fs::path& executable) { return RunCommand(executable.string(), {}); }

ToolRun RunCommand(const std::string& command, const PosixStart& how) {
  ToolRun run;
  // Everything the child needs is made before the fork: after it, only system calls are safe.
  std::vector<std::string> entries;
  for (char** entry = environ; !how.onlyGivenEnvironment && *entry != nullptr; ++entry) {
    std::string_view text = *entry;
    bool replaced = false;
    for (const std::string& added : how.environment) {
      replaced = replaced || text.starts_with(added.substr(0, added.find('=') + 1));
    }
    if (!replaced) entries.emplace_back(text);
  }
  entries.insert(entries.end(), how.environment.begin(), how.environment.end());
  std::vector<char*> envp;
  for (std::string& entry : entries) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string path = command;
  char* argv[] = {path.data(), nullptr};
  const std::string folder = how.folder.string();
  const bool dropPrivileges = how.unprivileged && RunsAsRoot();

  int readFd = -1;
  int writeFd = -1;
  if (how.onTerminal) {
    if (::openpty(&readFd, &writeFd, nullptr, nullptr, nullptr) != 0) return run;
    termios raw;
    ::tcgetattr(writeFd, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(writeFd, TCSANOW, &raw);
  } else {
    int fds[2];
    if (::pipe(fds) != 0) return run;
    readFd = fds[0];
    writeFd = fds[1];
  }
  pid_t child = ::fork();
  if (child == 0) {
    if (::chdir(folder.c_str()) != 0) ::_exit(126);
    if (dropPrivileges && (::setgroups(0, nullptr) != 0 || ::setgid(kUnprivilegedId) != 0 ||
                           ::setuid(kUnprivilegedId) != 0)) {
      ::_exit(125);
    }
    int input = ::open("/dev/null", O_RDONLY);
    ::dup2(input, 0);
    ::dup2(writeFd, 1);
    ::close(readFd);
    ::close(writeFd);
    // execvp looks a name without a slash up on the PATH of the environment it runs in.
    environ = envp.data();
    ::execvp(path.c_str(), argv);
    ::_exit(127);
  }
  ::close(writeFd);
  char buffer[4096];
  ssize_t got;
  // A terminal's reading end reports EIO once the child has closed its side.
  while ((got = ::read(readFd, buffer, sizeof buffer)) > 0) {
    run.output.append(buffer, static_cast<size_t>(got));
  }
  ::close(readFd);
  int status = 0;
  ::waitpid(child, &status, 0);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

void GiveToUnprivilegedUser(const fs::path& folder) {
  if (!RunsAsRoot()) return;
  ASSERT_EQ(::chown(folder.c_str(), kUnprivilegedId, kUnprivilegedId), 0) << folder;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
    ASSERT_EQ(::lchown(entry.path().c_str(), kUnprivilegedId, kUnprivilegedId), 0) << entry;
  }
}

CountedRun RunCountingOutputWrites(const fs::path& folder) {
  CountedRun counted;
  if (std::system("command -v strace >/dev/null 2>&1") != 0) {
    counted.unavailable = "strace is missing (Debian package strace)";
    return counted;
  }
  const fs::path executable = folder / "Tabulon.exe";
  fs::copy_file(TABULON_EXE_PATH, executable, fs::copy_options::overwrite_existing);
  TempFolder records;
  const fs::path trace = records / "trace.txt";
  const fs::path output = records / "output.txt";
  // The paths are quoted for the shell; test folders hold no single quote. LeakSanitizer cannot
  // work in a traced process.
  std::string command =
      "cd / && ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" strace -f -qq -e "
      "trace=write -o '" +
      trace.string() + "' '" + executable.string() + "' </dev/null >'" + output.string() + "'";
  int status = std::system(command.c_str());
  counted.run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  counted.run.output = ReadBytes(output);
  const std::string calls = ReadBytes(trace);
  if (calls.empty()) {
    counted.unavailable = "strace traced nothing (is ptrace allowed here?)";
    return counted;
  }
  counted.writes = 0;
  for (size_t at = 0; (at = calls.find("write(1, ", at)) != std::string::npos; ++at) {
    ++counted.writes;
  }
  return counted;
}

bool IsWindowsBuild() { return false; }

std::map<std::string, std::string> IndependentDigests(const fs::path& folder) {
  std::map<std::string, std::string> digests;
  // The folder's path is quoted for the shell; test folders hold no single quote.
  std::string command =
      "cd '" + folder.string() + "' && find . -maxdepth 1 -type f -print0 | xargs -0 md5sum --";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return digests;
  char line[8192];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    // "<32 hex digits>  ./<name>\n"
    std::string text(line);
    if (text.size() < 36 || text.compare(32, 4, "  ./") != 0 || text.back() != '\n') continue;
    std::string name = text.substr(36, text.size() - 37);
    digests[platform::Utf8ToAnsi(name)] = text.substr(0, 32);
  }
  if (::pclose(pipe) != 0) digests.clear();
  return digests;
}

}  // namespace testing_support
