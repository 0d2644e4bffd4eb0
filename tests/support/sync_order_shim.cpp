// Preloaded into the tool by a test (LD_PRELOAD, POSIX only): appends to the file named by
// TABULON_TEST_SYNC_LOG one line for every flush to disk (fsync, fdatasync: "sync PATH") and
// every rename ("rename FROM TO"), in the order the tool makes them, with the paths of the
// descriptors and folders involved. The calls themselves pass through.
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

std::string PathOf(int fd) {
  if (fd == AT_FDCWD) return ".";
  char link[64];
  char path[4096];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t length = ::readlink(link, path, sizeof path);
  return length > 0 ? std::string(path, static_cast<size_t>(length)) : "?";
}

std::string PathAt(int folder, const char* name) {
  return name[0] == '/' ? std::string(name) : PathOf(folder) + "/" + name;
}

// One line in one write, which O_APPEND keeps whole among the tool's threads.
void Record(const std::string& line) {
  const char* log = std::getenv("TABULON_TEST_SYNC_LOG");
  if (log == nullptr) return;
  int fd = ::open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  const std::string text = line + "\n";
  [[maybe_unused]] ssize_t written = ::write(fd, text.data(), text.size());
  ::close(fd);
}

template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int fsync(int fd) {
  static const auto next = Next<int (*)(int)>("fsync");
  Record("sync " + PathOf(fd));
  return next(fd);
}

extern "C" int fdatasync(int fd) {
  static const auto next = Next<int (*)(int)>("fdatasync");
  Record("sync " + PathOf(fd));
  return next(fd);
}

extern "C" int rename(const char* from, const char* to) {
  static const auto next = Next<int (*)(const char*, const char*)>("rename");
  Record("rename " + PathAt(AT_FDCWD, from) + " " + PathAt(AT_FDCWD, to));
  return next(from, to);
}

extern "C" int renameat(int fromFolder, const char* from, int toFolder, const char* to) {
  static const auto next = Next<int (*)(int, const char*, int, const char*)>("renameat");
  Record("rename " + PathAt(fromFolder, from) + " " + PathAt(toFolder, to));
  return next(fromFolder, from, toFolder, to);
}
