// Starting the built tool on POSIX systems.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/platform.h"
#include "support/test_support.h"

namespace testing_support {

std::string ToolFolderText(const fs::path& folder) {
  return platform::Utf8ToAnsi(folder.string()) + "/";
}

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

}  // namespace testing_support
