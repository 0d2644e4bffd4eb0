// Preloaded into the tool by a test (LD_PRELOAD, POSIX only): every read() of a file whose path
// ends in the text of TABULON_TEST_FAIL_READ_OF fails with EIO once the file is no longer at its
// start, as a disk that fails partway through the file would. Other reads pass through.
#include <dlfcn.h>
#include <errno.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

using ReadFunction = ssize_t (*)(int, void*, size_t);

bool ReadFails(int fd) {
  const char* failingName = std::getenv("TABULON_TEST_FAIL_READ_OF");
  if (failingName == nullptr || ::lseek(fd, 0, SEEK_CUR) <= 0) return false;
  char link[64];
  char path[4096];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t length = ::readlink(link, path, sizeof path);
  return length > 0 && std::string_view(path, static_cast<size_t>(length)).ends_with(failingName);
}

}  // namespace

extern "C" ssize_t read(int fd, void* buffer, size_t size) {
  // The next read() after this library's: the C library's, or a sanitizer's in between.
  static const ReadFunction next = reinterpret_cast<ReadFunction>(::dlsym(RTLD_NEXT, "read"));
  if (ReadFails(fd)) {
    errno = EIO;
    return -1;
  }
  return next(fd, buffer, size);
}
