// POSIX implementation of the platform layer. File names on disk are UTF-8; the tool sees them,
// as a Chinese Windows would, in code page 936, converted with the C library's iconv.
#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wctype.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>

#include "platform/platform.h"

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
      size_t skip =
          fromUtf8 ? Utf8SequenceLength(source, sourceLeft) : AnsiCharLength(source, sourceLeft);
      source += skip;
      sourceLeft -= skip;
      iconv(m_Handle, nullptr, nullptr, nullptr, nullptr);
    }
    return exact;
  }

 private:
  // Length of the valid UTF-8 sequence at `s`, or 1 for an invalid byte (each invalid byte is
  // shown as its own '?', as the Windows listing shows it).
  static size_t Utf8SequenceLength(const char* s, size_t left) {
    auto lead = static_cast<unsigned char>(s[0]);
    size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || length > left) return 1;
    for (size_t i = 1; i < length; ++i) {
      if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return 1;
    }
    return length;
  }

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

// UTF-16 code units of a file name. Each byte that is not valid UTF-8 becomes U+FFFD, as the
// Windows listing shows it.
std::u16string NameToUtf16(std::string_view name) {
  std::u16string units;
  size_t i = 0;
  while (i < name.size()) {
    auto lead = static_cast<unsigned char>(name[i]);
    size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    bool valid = length != 0 && i + length <= name.size();
    char32_t code = length == 1 ? lead : lead & (0x3F >> (length - 1));
    for (size_t k = 1; valid && k < length; ++k) {
      auto next = static_cast<unsigned char>(name[i + k]);
      valid = (next & 0xC0) == 0x80;
      code = (code << 6) | (next & 0x3F);
    }
    if (valid && length > 1) {
      valid = code >= (length == 2   ? 0x80u
                       : length == 3 ? 0x800u
                                     : 0x10000u) &&
              code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
    }
    if (!valid) {
      units.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      units.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      units.push_back(static_cast<char16_t>(code));
    }
    i += length;
  }
  return units;
}

locale_t UnicodeLocale() {
  static locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  return locale;
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

struct ListedName {
  std::u16string upper;
  std::u16string units;
  std::string native;
  unsigned char type;  // d_type of the listing: DT_REG, DT_DIR, DT_LNK, or DT_UNKNOWN
};

bool NtfsOrder(const ListedName& a, const ListedName& b) {
  if (a.upper != b.upper) return a.upper < b.upper;
  if (a.units != b.units) return a.units < b.units;
  return a.native < b.native;
}

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

// Opens an existing regular file for reading; -1 with errno set for anything else. Folders,
// pipes and devices are refused: opening a pipe for reading would wait for a writer forever.
// O_NONBLOCK, which keeps the open of a pipe from waiting, changes nothing for a regular file,
// so it stays set.
int OpenRegularForReading(const std::string& path) {
  int fd = ::open(AnsiToNative(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    errno = EISDIR;
    return -1;
  }
  return fd;
}

// A file without any write permission bit is read-only, as Windows' read-only attribute is,
// even for root, who could otherwise write it.
bool IsReadOnly(const struct stat& info) { return (info.st_mode & 0222) == 0; }

}  // namespace

// ---- Process

bool GetExecutablePath(std::string& path) {
  path.clear();
  std::string native(256, '\0');
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
  if (!NativeToAnsi(native, path)) {
    path.clear();
    return false;
  }
  return true;
}

// ---- Multibyte text

bool IsLeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

bool NamesEqual(std::string_view a, std::string_view b) { return a == b; }

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
  DIR* folder = ::opendir(nativeDirectory.empty() ? "." : nativeDirectory.c_str());
  if (folder == nullptr) return false;

  std::vector<ListedName> names;
  while (const dirent* entry = ::readdir(folder)) {
    std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    std::u16string units = NameToUtf16(name);
    names.push_back({UpperCased(units), units, std::string(name), entry->d_type});
  }
  int folderFd = ::dirfd(folder);
  std::sort(names.begin(), names.end(), NtfsOrder);

  entries.reserve(names.size() + 2);
  entries.push_back({".", true, true});
  entries.push_back({"..", true, true});
  for (const ListedName& listed : names) {
    DirEntry entry;
    entry.nameExact = NativeToAnsi(listed.native, entry.name);
    // A link counts as what it leads to; a dangling one is no folder. Only links and entries
    // of file systems that give no type need a query of their own.
    struct stat info;
    entry.isDirectory =
        listed.type == DT_DIR ||
        ((listed.type == DT_LNK || listed.type == DT_UNKNOWN) &&
         ::fstatat(folderFd, listed.native.c_str(), &info, 0) == 0 && S_ISDIR(info.st_mode));
    entries.push_back(std::move(entry));
  }
  ::closedir(folder);
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

FileStamp GetFileStamp(const std::string& path) {
  FileStamp stamp;
  struct stat info;
  if (!StatNative(AnsiToNative(path), info)) return stamp;
  stamp.exists = true;
  stamp.size = static_cast<std::uint64_t>(info.st_size);
  stamp.modifiedNs =
      static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  return stamp;
}

std::FILE* OpenForBinaryRead(const std::string& path, char* buffer, size_t size) {
  int fd = OpenRegularForReading(path);
  if (fd < 0) return nullptr;
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  std::FILE* file = ::fdopen(fd, "rb");
  if (file == nullptr) {
    ::close(fd);
    return nullptr;
  }
  // glibc ignores the size when it is to allocate the buffer itself.
  std::setvbuf(file, buffer, _IOFBF, size);
  return file;
}

ReadResult ReadWholeFile(const std::string& path, std::string& content) {
  content.clear();
  int fd = OpenRegularForReading(path);
  if (fd < 0) return errno == ENOENT ? ReadResult::kMissing : ReadResult::kFailed;
  struct stat info;
  ::fstat(fd, &info);
  content.reserve(static_cast<size_t>(info.st_size));
  char buffer[64 * 1024];
  for (;;) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      content.clear();
      return ReadResult::kFailed;
    }
    if (got == 0) break;
    content.append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
  return ReadResult::kOk;
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
  int fd = -1;
  static std::atomic<unsigned> attempts{0};
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temporary = folder + "." + name + "." + std::to_string(::getpid()) + "-" +
                std::to_string(attempts++) + ".tmp";
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;

  bool ok = WriteAll(fd, content) &&
            (!exists || ::fchmod(fd, old.st_mode & 07777) == 0) && ::fsync(fd) == 0;
  if (ok && exists && ::geteuid() == 0) {
    // Best effort: root keeps the old owner rather than taking the file over.
    [[maybe_unused]] int ignored = ::fchown(fd, old.st_uid, old.st_gid);
  }
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = ::rename(temporary.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(temporary.c_str());
    return false;
  }
  // Make the rename itself durable.
  int folderFd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd >= 0) {
    ::fsync(folderFd);
    ::close(folderFd);
  }
  return true;
}

// ---- Text-mode streams

struct TextFile {
  std::FILE* stream = nullptr;
  bool atEnd = false;
  bool failed = false;
};

namespace {

TextFile* WrapStream(int fd, const char* mode) {
  std::FILE* stream = ::fdopen(fd, mode);
  if (stream == nullptr) {
    ::close(fd);
    return nullptr;
  }
  return new TextFile{stream};
}

// The next byte as text mode delivers it, or EOF at the end of the file or on a read error.
int ReadTextByte(TextFile* file) {
  if (file->atEnd) return EOF;
  int byte = std::getc(file->stream);
  if (byte == '\r') {
    int following = std::getc(file->stream);
    if (following == '\n') return '\n';
    if (following != EOF) std::ungetc(following, file->stream);
    if (std::ferror(file->stream)) file->failed = true;
    return '\r';
  }
  if (byte == EOF || byte == 0x1A) {
    // Ctrl+Z ends a text-mode file: nothing after it is read.
    if (std::ferror(file->stream)) file->failed = true;
    file->atEnd = true;
    return EOF;
  }
  return byte;
}

}  // namespace

TextFile* OpenTextForReading(const std::string& path) {
  int fd = OpenRegularForReading(path);
  return fd < 0 ? nullptr : WrapStream(fd, "rb");
}

TextFile* CreateTextForWriting(const std::string& path) {
  std::string native = AnsiToNative(path);
  struct stat info;
  if (::stat(native.c_str(), &info) == 0 && IsReadOnly(info)) return nullptr;
  // Only a regular file is written: opening a pipe without a reader would wait forever, and
  // O_NONBLOCK, which keeps it from waiting, changes nothing for a regular file.
  int fd = ::open(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) return nullptr;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  return WrapStream(fd, "wb");
}

bool ReadTextLine(TextFile* file, char* buffer, int capacity) {
  if (capacity <= 1) return false;
  int count = 0;
  // Bytes are gathered apart and copied at the end, so a read that delivers nothing leaves the
  // caller's buffer as it was.
  std::string line;
  while (count < capacity - 1) {
    int byte = ReadTextByte(file);
    if (byte == EOF) break;
    line.push_back(static_cast<char>(byte));
    ++count;
    if (byte == '\n') break;
  }
  if (line.empty()) return false;
  std::memcpy(buffer, line.data(), line.size());
  buffer[line.size()] = '\0';
  return true;
}

bool TextAtEnd(TextFile* file) { return file->atEnd; }

bool WriteTextLine(TextFile* file, const char* text) {
  std::string bytes;
  for (const char* at = text; *at != '\0'; ++at) {
    if (*at == '\n') bytes.push_back('\r');
    bytes.push_back(*at);
  }
  bytes += "\r\n";
  if (std::fwrite(bytes.data(), 1, bytes.size(), file->stream) != bytes.size()) {
    file->failed = true;
    return false;
  }
  return true;
}

bool CloseText(TextFile* file) {
  bool ok = !file->failed && !std::ferror(file->stream);
  ok = (std::fclose(file->stream) == 0) && ok;
  delete file;
  return ok;
}

}  // namespace platform
