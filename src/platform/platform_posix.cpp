// POSIX implementation of the platform layer. File names on disk are UTF-8; the tool sees them,
// as a Chinese Windows would, in code page 936, converted with the C library's iconv.
#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <malloc.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <wctype.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <iterator>
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

// The list of a folder of many files is written in pieces: one write of tens of MiB took ten
// times as long as the same bytes in pieces of 1 MiB on a virtual machine (the kernel then takes
// large blocks of free memory for the file's pages, which the host has to map in afresh).
constexpr size_t kLargestWrite = 1 << 20;

bool WriteAll(int fd, std::string_view content) {
  const char* data = content.data();
  size_t left = content.size();
  while (left > 0) {
    ssize_t written = ::write(fd, data, std::min(left, kLargestWrite));
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    left -= static_cast<size_t>(written);
  }
  return true;
}

// A file without any write permission bit is read-only, as Windows' read-only attribute is,
// even for root, who could otherwise write it.
bool IsReadOnly(const struct stat& info) { return (info.st_mode & 0222) == 0; }

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The text of the link `name` in folder `at`; false when it is no link or cannot be read.
bool ReadLink(int at, const std::string& name, std::string& target) {
  target.assign(256, '\0');
  for (;;) {
    ssize_t length = ::readlinkat(at, name.c_str(), target.data(), target.size());
    if (length < 0) return false;
    if (static_cast<size_t>(length) < target.size()) {
      target.resize(static_cast<size_t>(length));
      return true;
    }
    if (target.size() >= (1u << 20)) return false;
    target.resize(target.size() * 2);
  }
}

// Opens the folder `name` in the folder `at` for listing, or, where this user may pass through
// it but not list it, for reaching its files by name only: then only the listing fails, and says
// which folder.
UniqueFd OpenFolderAt(int at, const char* name) {
  UniqueFd folder(::openat(at, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
#ifdef O_PATH
  if (folder.get() < 0 && errno == EACCES) {
    folder = UniqueFd(::openat(at, name, O_PATH | O_DIRECTORY | O_CLOEXEC));
  }
#endif
  return folder;
}

// The path of `started` up to its last separator, walked one component at a time as the kernel
// walks it: each link followed, each ".." taken from the folder the walk has reached. Works for
// any length of the current folder's path.
UniqueFd WalkPhysically(std::string_view folderPart) {
#ifdef O_PATH
  constexpr int kWalkFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;  // no read permission needed
#else
  constexpr int kWalkFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif
  UniqueFd at(::open(folderPart.starts_with('/') ? "/" : ".", kWalkFlags));
  while (at.get() >= 0 && !folderPart.empty()) {
    size_t end = std::min(folderPart.find('/'), folderPart.size());
    std::string component(folderPart.substr(0, end));
    folderPart.remove_prefix(std::min(end + 1, folderPart.size()));
    if (!component.empty() && component != ".") {
      at = UniqueFd(::openat(at.get(), component.c_str(), kWalkFlags));
    }
  }
  if (at.get() < 0) return at;
  return OpenFolderAt(at.get(), ".");
}

bool IsThatFolder(int parent, const char* name, const struct stat& folder) {
  struct stat info;
  return ::fstatat(parent, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(info, folder);
}

// The name under which `folder` is an entry of the folder `parent`. A mount point shows there
// with the number of the folder it covers, so only a query of each subfolder finds it.
bool NameInParent(int parent, const struct stat& folder, std::string& name) {
  UniqueFd listing(::openat(parent, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  std::unique_ptr<DIR, int (*)(DIR*)> entries(
      listing.get() < 0 ? nullptr : ::fdopendir(listing.get()), &::closedir);
  if (!entries) return false;
  listing.release();
  std::vector<std::string> others;
  while (const dirent* entry = ::readdir(entries.get())) {
    std::string_view candidate = entry->d_name;
    if (candidate == "." || candidate == ".." ||
        (entry->d_type != DT_DIR && entry->d_type != DT_UNKNOWN)) {
      continue;
    }
    if (entry->d_ino == folder.st_ino && IsThatFolder(parent, entry->d_name, folder)) {
      name = candidate;
      return true;
    }
    others.emplace_back(candidate);
  }
  for (const std::string& other : others) {
    if (IsThatFolder(parent, other.c_str(), folder)) {
      name = other;
      return true;
    }
  }
  return false;
}

// The absolute path of the open folder `fd`, found by walking up to the root: getcwd and the
// kernel's own path of a descriptor stop at the path limit (4,096 bytes).
bool WalkUpToRoot(int fd, std::string& path) {
  std::vector<std::string> names;
  UniqueFd here = OpenFolderAt(fd, ".");
  for (;;) {
    struct stat hereInfo;
    struct stat parentInfo;
    if (here.get() < 0 || ::fstat(here.get(), &hereInfo) != 0) return false;
    UniqueFd parent = OpenFolderAt(here.get(), "..");
    if (parent.get() < 0 || ::fstat(parent.get(), &parentInfo) != 0) return false;
    if (SameFile(parentInfo, hereInfo)) break;  // the root is its own parent
    if (!NameInParent(parent.get(), hereInfo, names.emplace_back())) return false;
    here = std::move(parent);
  }
  std::string walked;
  for (auto name = names.rbegin(); name != names.rend(); ++name) walked.append("/").append(*name);
  path = walked.empty() ? std::string(1, '/') : std::move(walked);
  return true;
}

// The absolute path of the open folder `fd`: the kernel's where it can give it, else a walk.
bool PathOfFolder(int fd, std::string& path) {
  if (ReadLink(AT_FDCWD, "/proc/self/fd/" + std::to_string(fd), path) && path.starts_with('/') &&
      !path.ends_with(" (deleted)")) {
    return true;
  }
  return WalkUpToRoot(fd, path);
}

// The first argument the process was started with: the path it was started through, or a name
// found on PATH.
std::string StartedAs() {
  UniqueFd commandLine(::open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC));
  if (commandLine.get() < 0) return {};
  std::string arguments;
  char buffer[4096];
  ssize_t got;
  while (arguments.find('\0') == std::string::npos &&
         (got = ::read(commandLine.get(), buffer, sizeof buffer)) > 0) {
    arguments.append(buffer, static_cast<size_t>(got));
  }
  return arguments.substr(0, arguments.find('\0'));
}

// The folder the process was started through and the executable's name in it, when the path it
// was started by leads to the running executable; the file /proc/self/exe names otherwise.
bool FindExecutableFolder(UniqueFd& folder, std::string& path, std::string& name) {
  struct stat running;
  struct stat named;
  if (::stat("/proc/self/exe", &running) != 0) return false;
  std::string started = StartedAs();
  size_t slash = started.rfind('/');
  if (slash != std::string::npos) {
    folder = WalkPhysically(std::string_view(started).substr(0, slash + 1));
    name = started.substr(slash + 1);
    if (folder.get() >= 0 && ::fstatat(folder.get(), name.c_str(), &named, 0) == 0 &&
        SameFile(named, running)) {
      return PathOfFolder(folder.get(), path);
    }
  }
  std::string executable;
  if (!ReadLink(AT_FDCWD, "/proc/self/exe", executable)) return false;
  slash = executable.rfind('/');
  if (slash == std::string::npos) return false;
  path = slash == 0 ? "/" : executable.substr(0, slash);
  name = executable.substr(slash + 1);
  folder = OpenFolderAt(AT_FDCWD, path.c_str());
  return folder.get() >= 0;
}

// Follows `name` in the folder `at` while it is a link, as the system follows one, a relative
// target taken from the folder the link lies in: afterwards `at` and `name` name the file the
// links lead to, which need not exist. `targetFolder` keeps a folder the walk opened. False when
// a target's folder cannot be opened or the links go round.
bool FollowLinks(int& at, UniqueFd& targetFolder, std::string& name) {
  for (int hops = 0; hops < 40; ++hops) {
    std::string target;
    if (!ReadLink(at, name, target)) return true;
    size_t slash = target.rfind('/');
    if (slash != std::string::npos) {
      UniqueFd next(
          ::openat(at, target.substr(0, slash + 1).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      if (next.get() < 0) return false;
      targetFolder = std::move(next);
      at = targetFolder.get();
    }
    name = target.substr(slash == std::string::npos ? 0 : slash + 1);
  }
  return false;
}

// Creates a new temporary file for `name` in the folder `at`. The leading dot keeps a leftover
// out of a later run's lists. The open applies the process's umask to a new file by itself:
// umask() cannot be read without setting it, which would race with files made on other threads.
UniqueFd CreateTemporary(int at, const std::string& name, std::string& temporary) {
  static std::atomic<unsigned> attempts{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary =
        "." + name + "." + std::to_string(::getpid()) + "-" + std::to_string(attempts++) + ".tmp";
    UniqueFd fd(::openat(at, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd.get() >= 0 || errno != EEXIST) return fd;
  }
  return UniqueFd();
}

// Gives the new file the old one's owner and group where the old one was another's: root must
// manage it, anyone else keeps the group where the system lets them.
bool KeepOwner(int fd, const struct stat& old) {
  uid_t user = ::geteuid();
  if (old.st_uid == user && old.st_gid == ::getegid()) return true;
  if (user == 0) return ::fchown(fd, old.st_uid, old.st_gid) == 0;
  [[maybe_unused]] int ignored = ::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
  return true;
}

// Writes `content`, the old file's mode and owner and flushes it all to disk.
bool FillTemporary(int fd, std::string_view content, const struct stat* old) {
  return WriteAll(fd, content) &&
         (old == nullptr || (::fchmod(fd, old->st_mode & 07777) == 0 && KeepOwner(fd, *old))) &&
         ::fsync(fd) == 0;
}

InputFile::Stamp StampOf(const struct stat& info) {
  InputFile::Stamp stamp;
  stamp.id = static_cast<std::uint64_t>(info.st_ino);
  stamp.volume = static_cast<std::uint64_t>(info.st_dev);
  stamp.modified = info.st_mtim.tv_sec;
  stamp.modifiedFraction = info.st_mtim.tv_nsec;
  stamp.changed = info.st_ctim.tv_sec;
  stamp.changedFraction = info.st_ctim.tv_nsec;
  stamp.links = static_cast<std::uint64_t>(info.st_nlink);
  return stamp;
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

// The terminal's settings before the keystroke wait, for a signal handler to put back.
termios g_TerminalBefore;

// The signals that end the process during the wait, the terminal's settings put back first.
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

void RestoreTerminalAndEnd(int signal) {
  ::tcsetattr(STDIN_FILENO, TCSANOW, &g_TerminalBefore);
  // SA_RESETHAND made the default action current again; the signal stays blocked until this
  // handler returns and then ends the process as it would have.
  ::raise(signal);
}

}  // namespace

// ---- Folders

struct FolderAccess {
  static int Fd(const Folder& folder) { return static_cast<int>(folder.m_Handle); }
  static void Set(Folder& folder, UniqueFd fd, std::string path) {
    if (!path.ends_with(kPathSeparator)) path.push_back(kPathSeparator);
    folder = Folder();
    folder.m_Handle = fd.release();
    folder.m_Path = std::move(path);
  }
};

void Folder::Close(std::intptr_t handle) { ::close(static_cast<int>(handle)); }

Folder Folder::Open(const std::string& path) {
  Folder folder;
  std::string native = AnsiToNative(path);
  UniqueFd fd = OpenFolderAt(AT_FDCWD, native.empty() ? "." : native.c_str());
  if (fd.get() >= 0) FolderAccess::Set(folder, std::move(fd), path);
  return folder;
}

bool OpenExecutableFolder(Folder& folder, std::string& executableName) {
  folder = Folder();
  executableName.clear();
  UniqueFd fd;
  std::string native;
  std::string name;
  std::string ansi;
  if (!FindExecutableFolder(fd, native, name) || !NativeToAnsi(native, ansi)) return false;
  // The name is only compared with listed names: one without an exact form matches none.
  NativeToAnsi(name, executableName);
  FolderAccess::Set(folder, std::move(fd), std::move(ansi));
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

bool ListDirectory(const Folder& folder, std::vector<DirEntry>& entries) {
  entries.clear();
  const int folderFd = FolderAccess::Fd(folder);
  // A descriptor of its own: the listing moves its position.
  UniqueFd listing(::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  std::unique_ptr<DIR, int (*)(DIR*)> entriesOnDisk(
      listing.get() < 0 ? nullptr : ::fdopendir(listing.get()), &::closedir);
  if (!entriesOnDisk) return false;
  listing.release();

  std::vector<ListedName> names;
  while (const dirent* entry = ::readdir(entriesOnDisk.get())) {
    std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    std::u16string units = Utf8ToUtf16Lossy(name);
    names.push_back({UnitOrderKey(UpperCased(units)), std::move(units), std::string(name),
                     entry->d_type, static_cast<std::uint64_t>(entry->d_ino)});
  }
  struct stat folderInfo;
  bool folderKnown = ::fstat(folderFd, &folderInfo) == 0;
  entries = OrderedListing(names, [&](const ListedName& listed) {
    DirEntry entry;
    entry.nameExact = NativeToAnsi(listed.native, entry.name);
    if (listed.type == DT_DIR) {
      entry.isDirectory = true;
    } else if (listed.type == DT_REG && folderKnown) {
      // A regular file's number is in the listing; it lies on the folder's device.
      entry.id = FileId{static_cast<std::uint64_t>(folderInfo.st_dev), listed.index};
    } else if (listed.type == DT_LNK || listed.type == DT_UNKNOWN) {
      // A link counts as what it leads to; a dangling one is nothing. Only links and entries of
      // file systems that give no type need a query of their own.
      struct stat info;
      if (::fstatat(folderFd, listed.native.c_str(), &info, 0) == 0) {
        entry.isDirectory = S_ISDIR(info.st_mode);
        entry.id = FileId{static_cast<std::uint64_t>(info.st_dev),
                          static_cast<std::uint64_t>(info.st_ino)};
      }
    }
    return entry;
  });
  return true;
}

// ---- Memory

void ReleaseFreedMemory() {
#ifdef __GLIBC__
  // Pages freed amid pages still in use stay with the process otherwise.
  ::malloc_trim(0);
#endif
}

// ---- Files

void InputFile::Close(std::intptr_t handle) { ::close(static_cast<int>(handle)); }

InputFile InputFile::Open(const Folder& folder, const std::string& name, bool* missing) {
  InputFile file;
  if (missing != nullptr) *missing = false;
  std::string native = AnsiToNative(name);
  const int folderFd = FolderAccess::Fd(folder);
  // O_NONBLOCK keeps the open of a pipe from waiting for a writer; for a regular file it
  // changes nothing, so it stays set.
  UniqueFd fd(::openat(folderFd, native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat info;
  if (fd.get() < 0) {
    if (missing != nullptr) *missing = errno == ENOENT;
    return file;
  }
  // Folders, pipes and devices are no release files.
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return file;
  file.m_SizeAtOpen = static_cast<std::uint64_t>(info.st_size);
  file.m_Stamp = StampOf(info);
  file.m_Folder = folderFd;
  file.m_Name = std::move(native);
  // Worth a call only where reading ahead can help.
  if (info.st_size > (1 << 20)) ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  file.m_Handle = fd.release();
  return file;
}

std::int64_t InputFile::ReadHandle(std::intptr_t handle, void* buffer, size_t size) {
  ssize_t got;
  do {
    got = ::read(static_cast<int>(handle), buffer, size);
  } while (got < 0 && errno == EINTR);
  return got;
}

bool InputFile::UnchangedSinceOpen() const {
  struct stat now;
  struct stat named;
  // The name must still lead to the file read: a rename over it leaves the old file intact.
  return ::fstat(static_cast<int>(m_Handle), &now) == 0 && StampOf(now) == m_Stamp &&
         static_cast<std::uint64_t>(now.st_size) == m_SizeAtOpen &&
         ::fstatat(static_cast<int>(m_Folder), m_Name.c_str(), &named, 0) == 0 &&
         SameFile(named, now);
}

bool ReplaceFileAtomically(const Folder& folder, const std::string& name,
                           std::string_view content) {
  int at = FolderAccess::Fd(folder);
  UniqueFd targetFolder;
  std::string target = AnsiToNative(name);
  // A link is followed, so that the file it leads to is replaced and the link kept.
  if (!FollowLinks(at, targetFolder, target)) return false;
  struct stat old;
  bool exists = ::fstatat(at, target.c_str(), &old, 0) == 0;
  if (exists && (!S_ISREG(old.st_mode) || IsReadOnly(old) ||
                 ::faccessat(at, target.c_str(), W_OK, AT_EACCESS) != 0)) {
    return false;
  }
  std::string temporary;
  UniqueFd fd = CreateTemporary(at, target, temporary);
  if (fd.get() < 0) return false;
  bool ok = FillTemporary(fd.get(), content, exists ? &old : nullptr);
  ok = fd.Close() && ok;
  if (ok) ok = ::renameat(at, temporary.c_str(), at, target.c_str()) == 0;
  if (!ok) {
    ::unlinkat(at, temporary.c_str(), 0);
    return false;
  }
  // Make the rename itself durable.
  ::fsync(at);
  return true;
}

size_t ReserveOpenFiles(size_t wanted) {
  struct rlimit limit;
  if (wanted == 0 || ::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted) {
    struct rlimit raised = limit;
    raised.rlim_cur = std::min<rlim_t>(wanted, limit.rlim_max);
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  const size_t allowed =
      limit.rlim_cur == RLIM_INFINITY ? wanted : std::min<size_t>(wanted, limit.rlim_cur);
  // A descriptor of the highest number makes the table that large.
  UniqueFd root(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  const UniqueFd highest(
      root.get() < 0 ? -1 : ::fcntl(root.get(), F_DUPFD_CLOEXEC, static_cast<int>(allowed - 1)));
  return allowed;
}

// ---- Console

bool ConsoleIsWatched() { return ::isatty(STDOUT_FILENO) != 0; }

void AppendConsoleForm(std::string_view text, std::string& pending) {
  static const bool utf8 = ConsoleTakesUtf8();
  if (utf8) {
    pending += AnsiToUtf8(text);
  } else {
    pending.append(text);
  }
}

bool WriteConsoleBytes(std::string_view pending) { return WriteAll(STDOUT_FILENO, pending); }

void WaitForKey() {
  bool terminal = ::tcgetattr(STDIN_FILENO, &g_TerminalBefore) == 0;
  struct sigaction before[std::size(kEndingSignals)];
  if (terminal) {
    struct sigaction restoring = {};
    restoring.sa_handler = RestoreTerminalAndEnd;
    restoring.sa_flags = SA_RESETHAND;
    for (size_t i = 0; i < std::size(kEndingSignals); ++i) {
      ::sigaction(kEndingSignals[i], &restoring, &before[i]);
    }
    termios oneKey = g_TerminalBefore;
    oneKey.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    oneKey.c_cc[VMIN] = 1;
    oneKey.c_cc[VTIME] = 0;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &oneKey);
  }
  unsigned char key;
  while (::read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR) {
  }
  if (terminal) {
    // The rest of a key that sends several bytes (an arrow, a character of several bytes) is
    // dropped, not left for the shell to read.
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_TerminalBefore);
    for (size_t i = 0; i < std::size(kEndingSignals); ++i) {
      ::sigaction(kEndingSignals[i], &before[i], nullptr);
    }
  }
}

}  // namespace platform
