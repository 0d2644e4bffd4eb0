// POSIX implementation of the platform layer. File names on disk are UTF-8; the tool sees them,
// as a Chinese Windows would, in code page 936, converted with the C library's iconv.
#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wctype.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <memory>
#include <utility>

#include "platform/portable.h"

namespace platform {

const char kPathSeparator = '/';

namespace {

// One conversion direction of iconv. Converts `in` whole; on a sequence that has no form in the
// target, writes '?' and goes on. Returns true when nothing had to be replaced.
class Converter {
 public:
  Converter(const char* to, const char* from) : m_Handle(iconv_open(to, from)) {}
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  ~Converter() {
    if (m_Handle != reinterpret_cast<iconv_t>(-1)) iconv_close(m_Handle);
  }

  bool Convert(std::string_view in, std::string& out, bool fromUtf8) {
    out.clear();
    if (m_Handle == reinterpret_cast<iconv_t>(-1)) {
      out.assign(in);
      return false;
    }
    iconv(m_Handle, nullptr, nullptr, nullptr, nullptr);
    bool exact = true;
    char* source = const_cast<char*>(in.data());
    size_t sourceLeft = in.size();
    char chunk[512];
    while (sourceLeft > 0) {
      char* target = chunk;
      size_t targetLeft = sizeof chunk;
      size_t result = iconv(m_Handle, &source, &sourceLeft, &target, &targetLeft);
      out.append(chunk, static_cast<size_t>(target - chunk));
      if (result != static_cast<size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL: one unconvertible character (or an invalid byte) becomes '?'.
      exact = false;
      out.push_back('?');
      size_t skip = fromUtf8 ? Utf8SequenceLength(std::string_view(source, sourceLeft))
                             : AnsiCharLength(source, sourceLeft);
      source += skip;
      sourceLeft -= skip;
      iconv(m_Handle, nullptr, nullptr, nullptr, nullptr);
    }
    return exact;
  }

 private:
  static size_t AnsiCharLength(const char* s, size_t left) {
    return left >= 2 && IsLeadByte(static_cast<unsigned char>(s[0])) ? 2 : 1;
  }

  iconv_t m_Handle;
};

// An iconv descriptor carries conversion state and may not be used by two threads at once: each
// thread has converters of its own.
Converter& ToAnsiConverter() {
  thread_local Converter converter("CP936", "UTF-8");
  return converter;
}

Converter& ToUtf8Converter() {
  thread_local Converter converter("UTF-8", "CP936");
  return converter;
}

// ASCII text reads the same in UTF-8 and in code page 936: most names and paths need no iconv.
bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// UTF-8 text of the file system to ANSI. True only when the ANSI text names the same bytes again
// when converted back, so that a path formed from it opens this very entry.
bool NativeToAnsi(std::string_view native, std::string& ansi) {
  if (IsAscii(native)) {
    ansi.assign(native);
    return true;
  }
  bool exact = ToAnsiConverter().Convert(native, ansi, true);
  if (!exact) return false;
  std::string back;
  return ToUtf8Converter().Convert(ansi, back, false) && back == native;
}

std::string AnsiToNative(const std::string& ansi) {
  if (IsAscii(ansi)) return ansi;
  std::string native;
  ToUtf8Converter().Convert(ansi, native, false);
  return native;
}

// ---- NTFS listing order

// The Unicode character tables, apart from the process's own locale, which stays "C". Like
// every library handle, each thread has its own.
locale_t UnicodeLocale() {
  struct OwnedLocale {
    locale_t handle = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    ~OwnedLocale() {
      if (handle != static_cast<locale_t>(nullptr)) ::freelocale(handle);
    }
  };
  thread_local OwnedLocale locale;
  return locale.handle;
}

std::u16string UpperCased(std::u16string units) {
  locale_t locale = UnicodeLocale();
  for (char16_t& unit : units) {
    if (unit >= u'a' && unit <= u'z') {
      unit = static_cast<char16_t>(unit - u'a' + u'A');
    } else if (unit >= 0x80 && (unit < 0xD800 || unit > 0xDFFF) && locale != nullptr) {
      // Only mappings that go both ways, as the upper-case table of Windows has them.
      wint_t upper = towupper_l(unit, locale);
      if (upper <= 0xFFFF && towlower_l(upper, locale) == static_cast<wint_t>(unit)) {
        unit = static_cast<char16_t>(upper);
      }
    }
  }
  return units;
}

// A file descriptor that closes itself.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : m_Fd(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : m_Fd(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    UniqueFd old(std::exchange(m_Fd, other.release()));
    return *this;
  }
  ~UniqueFd() {
    if (m_Fd >= 0) ::close(m_Fd);
  }
  int get() const { return m_Fd; }
  int release() { return std::exchange(m_Fd, -1); }
  // Closes now; false when the close failed.
  bool Close() { return ::close(release()) == 0; }

 private:
  int m_Fd;
};

bool StatNative(const std::string& native, struct stat& info) {
  return ::stat(native.empty() ? "." : native.c_str(), &info) == 0;
}

bool WriteAll(int fd, std::string_view content) {
  const char* data = content.data();
  size_t left = content.size();
  while (left > 0) {
    ssize_t written = ::write(fd, data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    left -= static_cast<size_t>(written);
  }
  return true;
}

// Opens an existing regular file for reading, with what fstat tells of it in `info`; -1 with
// errno set for anything else. Folders, pipes and devices are refused: opening a pipe for
// reading would wait for a writer forever. O_NONBLOCK, which keeps the open of a pipe from
// waiting, changes nothing for a regular file, so it stays set.
UniqueFd OpenRegularForReading(const std::string& path, struct stat& info) {
  UniqueFd fd(::open(AnsiToNative(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) return fd;
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    errno = EISDIR;
    return UniqueFd();
  }
  return fd;
}

// A file without any write permission bit is read-only, as Windows' read-only attribute is,
// even for root, who could otherwise write it.
bool IsReadOnly(const struct stat& info) { return (info.st_mode & 0222) == 0; }

// The path the process was started through, made absolute, when it names the running
// executable: a link placed in a release folder works on that folder, not on its target's.
// False when the process was started without a path (found on PATH) or through something else.
bool StartedThroughPath(std::string& native) {
  UniqueFd commandLine(::open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC));
  if (commandLine.get() < 0) return false;
  std::string arguments;
  char buffer[4096];
  ssize_t got;
  while (arguments.find('\0') == std::string::npos &&
         (got = ::read(commandLine.get(), buffer, sizeof buffer)) > 0) {
    arguments.append(buffer, static_cast<size_t>(got));
  }
  std::string started = arguments.substr(0, arguments.find('\0'));
  struct stat viaPath;
  struct stat running;
  if (started.find('/') == std::string::npos || ::stat(started.c_str(), &viaPath) != 0 ||
      ::stat("/proc/self/exe", &running) != 0 || viaPath.st_dev != running.st_dev ||
      viaPath.st_ino != running.st_ino) {
    return false;
  }
  if (started.front() != '/') {
    // Relative to the folder the process started in, which the tool never changes.
    std::unique_ptr<char, decltype(&std::free)> current(::getcwd(nullptr, 0), &std::free);
    if (!current) return false;
    started = std::string(current.get()) + "/" + started;
  }
  native = std::filesystem::path(started).lexically_normal().string();
  return true;
}

// True when standard output is a terminal and the locale's character set is UTF-8. The locale
// is looked up apart: the process's own locale stays "C" for everything else.
bool ConsoleTakesUtf8() {
  if (!::isatty(STDOUT_FILENO)) return false;
  locale_t locale = ::newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
  if (locale == static_cast<locale_t>(nullptr)) return false;
  bool utf8 = std::strcmp(::nl_langinfo_l(CODESET, locale), "UTF-8") == 0;
  ::freelocale(locale);
  return utf8;
}

}  // namespace

// ---- Process

bool GetExecutablePath(std::string& path) {
  path.clear();
  std::string native;
  if (!StartedThroughPath(native)) {
    native.assign(256, '\0');
    for (;;) {
      ssize_t length = ::readlink("/proc/self/exe", native.data(), native.size());
      if (length < 0) return false;
      if (static_cast<size_t>(length) < native.size()) {
        native.resize(static_cast<size_t>(length));
        break;
      }
      if (native.size() >= (1u << 20)) return false;
      native.resize(native.size() * 2);
    }
  }
  if (!NativeToAnsi(native, path)) {
    path.clear();
    return false;
  }
  return true;
}

// ---- Multibyte text

std::string AnsiToUtf8(std::string_view ansi) {
  std::string utf8;
  ToUtf8Converter().Convert(ansi, utf8, false);
  return utf8;
}

std::string Utf8ToAnsi(std::string_view utf8) {
  std::string ansi;
  ToAnsiConverter().Convert(utf8, ansi, true);
  return ansi;
}

// ---- Folder listing

bool ListDirectory(const std::string& directory, std::vector<DirEntry>& entries) {
  entries.clear();
  std::string nativeDirectory = AnsiToNative(directory);
  std::unique_ptr<DIR, int (*)(DIR*)> folder(
      ::opendir(nativeDirectory.empty() ? "." : nativeDirectory.c_str()), &::closedir);
  if (!folder) return false;

  std::vector<ListedName> names;
  while (const dirent* entry = ::readdir(folder.get())) {
    std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    std::u16string units = Utf8ToUtf16Lossy(name);
    names.push_back({UpperCased(units), units, std::string(name), entry->d_type,
                     static_cast<std::uint64_t>(entry->d_ino)});
  }
  int folderFd = ::dirfd(folder.get());
  struct stat folderInfo;
  bool folderKnown = ::fstat(folderFd, &folderInfo) == 0;
  entries = OrderedListing(names, [&](const ListedName& listed) {
    DirEntry entry;
    entry.nameExact = NativeToAnsi(listed.native, entry.name);
    // A regular file's number is in the listing; it lies on the folder's device.
    if (listed.type == DT_REG && folderKnown) {
      entry.id = FileId{static_cast<std::uint64_t>(folderInfo.st_dev), listed.inode};
    }
    // A link counts as what it leads to; a dangling one is no folder. Only links and entries
    // of file systems that give no type need a query of their own.
    struct stat info;
    entry.isDirectory =
        listed.type == DT_DIR ||
        ((listed.type == DT_LNK || listed.type == DT_UNKNOWN) &&
         ::fstatat(folderFd, listed.native.c_str(), &info, 0) == 0 && S_ISDIR(info.st_mode));
    return entry;
  });
  return true;
}

// ---- Files

bool GetFileId(const std::string& path, FileId& id) {
  struct stat info;
  if (!StatNative(AnsiToNative(path), info)) return false;
  id.volume = static_cast<std::uint64_t>(info.st_dev);
  id.index = static_cast<std::uint64_t>(info.st_ino);
  return true;
}

void InputFile::Close(std::intptr_t handle) { ::close(static_cast<int>(handle)); }

InputFile InputFile::Open(const std::string& path, bool* missing) {
  InputFile file;
  struct stat info;
  UniqueFd fd = OpenRegularForReading(path, info);
  if (fd.get() < 0) {
    if (missing != nullptr) *missing = errno == ENOENT;
    return file;
  }
  file.m_SizeAtOpen = static_cast<std::uint64_t>(info.st_size);
  // Worth a call only where reading ahead can help.
  if (info.st_size > (1 << 20)) ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  file.m_Handle = fd.release();
  return file;
}

std::int64_t InputFile::Read(void* buffer, size_t size) {
  if (m_AtEnd || size == 0) return 0;
  ssize_t got;
  do {
    got = ::read(static_cast<int>(m_Handle), buffer, size);
  } while (got < 0 && errno == EINTR);
  if (got < 0) return -1;
  m_Offset += static_cast<std::uint64_t>(got);
  if (got == 0 || (static_cast<size_t>(got) < size && m_Offset >= m_SizeAtOpen)) m_AtEnd = true;
  return got;
}

bool ReplaceFileAtomically(const std::string& path, std::string_view content) {
  std::string target = AnsiToNative(path);
  // A link is followed, so that the file it leads to is replaced and the link kept.
  struct stat linkInfo;
  if (::lstat(target.c_str(), &linkInfo) == 0 && S_ISLNK(linkInfo.st_mode)) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(target.c_str(), nullptr),
                                                         &std::free);
    if (resolved) target = resolved.get();
  }

  struct stat old;
  bool exists = ::stat(target.c_str(), &old) == 0;
  if (exists && (!S_ISREG(old.st_mode) || IsReadOnly(old))) return false;

  size_t slash = target.rfind('/');
  std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  // The leading dot keeps a leftover out of a later run's lists. The open applies the process's
  // umask to a new file by itself: umask() cannot be read without setting it, which would race
  // with files created on other threads.
  std::string temporary;
  UniqueFd fd;
  static std::atomic<unsigned> attempts{0};
  for (int attempt = 0; attempt < 100 && fd.get() < 0; ++attempt) {
    temporary = folder + "." + name + "." + std::to_string(::getpid()) + "-" +
                std::to_string(attempts++) + ".tmp";
    fd = UniqueFd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd.get() < 0 && errno != EEXIST) return false;
  }
  if (fd.get() < 0) return false;

  bool ok = WriteAll(fd.get(), content) &&
            (!exists || ::fchmod(fd.get(), old.st_mode & 07777) == 0) && ::fsync(fd.get()) == 0;
  if (ok && exists && ::geteuid() == 0) {
    // Best effort: root keeps the old owner rather than taking the file over.
    [[maybe_unused]] int ignored = ::fchown(fd.get(), old.st_uid, old.st_gid);
  }
  ok = fd.Close() && ok;
  if (ok) ok = ::rename(temporary.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(temporary.c_str());
    return false;
  }
  // Make the rename itself durable.
  UniqueFd folderFd(
      ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folderFd.get() >= 0) ::fsync(folderFd.get());
  return true;
}

// ---- Console

bool WriteConsoleText(std::string_view text) {
  static const bool utf8 = ConsoleTakesUtf8();
  std::string converted;
  if (utf8) {
    converted = AnsiToUtf8(text);
    text = converted;
  }
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
}

}  // namespace platform
