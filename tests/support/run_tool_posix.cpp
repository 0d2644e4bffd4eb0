// Starting the built tool on POSIX systems.
#include <fcntl.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/platform.h"
#include "support/test_support.h"

namespace testing_support {

std::string ToolFolderText(const fs::path& folder) { return AnsiText(folder) + "/"; }

ToolRun RunExecutable(const fs::path& executable) {
  ToolRun run;
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return run;
  pid_t child = ::fork();
  if (child == 0) {
    // The tool must find its folder from its own path, not from the current folder.
    if (::chdir("/") != 0) ::_exit(126);
    int input = ::open("/dev/null", O_RDONLY);
    ::dup2(input, 0);
    ::dup2(pipeFds[1], 1);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    ::execl(executable.c_str(), executable.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  char buffer[4096];
  ssize_t got;
  while ((got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) {
    run.output.append(buffer, static_cast<size_t>(got));
  }
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
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
