// Starting the built tool on POSIX systems.
#include <fcntl.h>
#include <grp.h>
#include <stdio.h>
#include <sys/wait.h>
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

ToolRun RunExecutable(const fs::path& executable) { return RunExecutableWith(executable, {}); }

ToolRun RunExecutableWith(const fs::path& executable, const std::vector<std::string>& environment,
                          bool unprivileged) {
  ToolRun run;
  // Everything the child needs is made before the fork: after it, only system calls are safe.
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string_view text = *entry;
    bool replaced = false;
    for (const std::string& added : environment) {
      replaced = replaced || text.starts_with(added.substr(0, added.find('=') + 1));
    }
    if (!replaced) entries.emplace_back(text);
  }
  entries.insert(entries.end(), environment.begin(), environment.end());
  std::vector<char*> envp;
  for (std::string& entry : entries) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string path = executable.string();
  char* argv[] = {path.data(), nullptr};
  const bool dropPrivileges = unprivileged && RunsAsRoot();

  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return run;
  pid_t child = ::fork();
  if (child == 0) {
    // The tool must find its folder from its own path, not from the current folder.
    if (::chdir("/") != 0) ::_exit(126);
    if (dropPrivileges && (::setgroups(0, nullptr) != 0 || ::setgid(kUnprivilegedId) != 0 ||
                           ::setuid(kUnprivilegedId) != 0)) {
      ::_exit(125);
    }
    int input = ::open("/dev/null", O_RDONLY);
    ::dup2(input, 0);
    ::dup2(pipeFds[1], 1);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    ::execve(path.c_str(), argv, envp.data());
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

void GiveToUnprivilegedUser(const fs::path& folder) {
  if (!RunsAsRoot()) return;
  ASSERT_EQ(::chown(folder.c_str(), kUnprivilegedId, kUnprivilegedId), 0) << folder;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
    ASSERT_EQ(::lchown(entry.path().c_str(), kUnprivilegedId, kUnprivilegedId), 0) << entry;
  }
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
