// Preloaded into the tool by a test (LD_PRELOAD, POSIX only), it meddles with the reads of one
// file, named by the end of its path:
// - TABULON_TEST_FAIL_READ_OF: every read() of the file fails with EIO once the file is no
//   longer at its start, as a disk that fails partway through the file would;
// - TABULON_TEST_CHANGE_ON_READ: the file is changed once, as another program would change it
//   while the tool reads it, in the way TABULON_TEST_CHANGE names: "truncate" (to half its
//   size), "delete", "rewrite-ends" (its first and its last byte), "grow" (by 4 KiB),
//   "replace" (by a file of the same size renamed over it), "retarget" (the link
//   TABULON_TEST_LINK, which leads to the file, made to lead to TABULON_TEST_LINK_TO instead),
//   each at the read after the first; "grow-at-open" before the first read.
// Other reads pass through.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using ReadFunction = ssize_t (*)(int, void*, size_t);

// The path of `fd` when it ends in the text of the environment variable `variable`.
bool PathEndsAsNamed(int fd, const char* variable, std::string& path) {
  const char* name = std::getenv(variable);
  if (name == nullptr) return false;
  char link[64];
  char target[4096];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t length = ::readlink(link, target, sizeof target);
  if (length <= 0) return false;
  path.assign(target, static_cast<size_t>(length));
  return std::string_view(path).ends_with(name);
}

bool ReadFails(int fd) {
  std::string path;
  return ::lseek(fd, 0, SEEK_CUR) > 0 && PathEndsAsNamed(fd, "TABULON_TEST_FAIL_READ_OF", path);
}

void WriteAt(const std::string& path, int flags, const std::string& bytes, off_t offset) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | flags, 0644);
  if (fd < 0) return;
  [[maybe_unused]] ssize_t written = ::pwrite(fd, bytes.data(), bytes.size(), offset);
  ::close(fd);
}

void Change(const std::string& path, std::string_view how, off_t size) {
  if (how == "truncate") {
    [[maybe_unused]] int ignored = ::truncate(path.c_str(), size / 2);
  } else if (how == "delete") {
    ::unlink(path.c_str());
  } else if (how == "rewrite-ends") {
    WriteAt(path, 0, "#", 0);
    WriteAt(path, 0, "#", size - 1);
  } else if (how == "grow" || how == "grow-at-open") {
    WriteAt(path, 0, std::string(4096, '+'), size);
  } else if (how == "retarget") {
    const std::string link = std::getenv("TABULON_TEST_LINK");
    [[maybe_unused]] int ignored =
        ::symlink(std::getenv("TABULON_TEST_LINK_TO"), (link + ".new").c_str());
    ::rename((link + ".new").c_str(), link.c_str());
  } else if (how == "replace") {
    WriteAt(path + ".new", O_CREAT | O_TRUNC, std::string(static_cast<size_t>(size), '='), 0);
    ::rename((path + ".new").c_str(), path.c_str());
  }
}

// Changes the named file, once, at the read the change is due.
void ChangeIfDue(int fd) {
  static std::atomic<bool> changed{false};
  const char* how = std::getenv("TABULON_TEST_CHANGE");
  std::string path;
  struct stat info;
  if (changed || how == nullptr || !PathEndsAsNamed(fd, "TABULON_TEST_CHANGE_ON_READ", path) ||
      ::fstat(fd, &info) != 0) {
    return;
  }
  bool atStart = ::lseek(fd, 0, SEEK_CUR) == 0;
  if (atStart != (std::string_view(how) == "grow-at-open") || changed.exchange(true)) return;
  Change(path, how, info.st_size);
}

}  // namespace

extern "C" ssize_t read(int fd, void* buffer, size_t size) {
  // The next read() after this library's: the C library's, or a sanitizer's in between.
  static const ReadFunction next = reinterpret_cast<ReadFunction>(::dlsym(RTLD_NEXT, "read"));
  if (ReadFails(fd)) {
    errno = EIO;
    return -1;
  }
  ChangeIfDue(fd);
  return next(fd, buffer, size);
}
