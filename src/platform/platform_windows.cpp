// Windows implementation of the platform layer, over the wide (W) services of Win32 and the C
// runtime's wide-path streams. The tool's text is code page 936 on every Windows, whatever the
// system's ANSI code page: the lists are read by Chinese clients, and an English build machine
// (code page 1252) would turn every Chinese name into '?'. So this file converts names and paths
// with code page 936 itself and hands the services only UTF-16; the A services and the narrow
// paths of the C runtime, which convert with the system's code page, are never called.
//
// Wherever Windows leaves a choice (the order of a listing, characters of the code page's
// user-defined area, a link in place of an INI file, a path longer than MAX_PATH), the choice is
// the one the POSIX build makes, so that both builds give the same bytes for the same folder.
#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <memory>

#include "platform/portable.h"

namespace platform {

const char kPathSeparator = '\\';

namespace {

// Code page 936 (GBK), the ANSI code page of a Chinese Windows; Windows carries its tables
// whatever its own code page.
constexpr UINT kCodePage = 936;

// Windows paths hold at most 32767 UTF-16 units: a buffer of this size surely holds one.
constexpr DWORD kMaxPathBuffer = 1u << 16;

// Code page 936 maps its user-defined area to the private-use characters; the C library's
// tables of the POSIX build do not know them, so neither build takes such a character as exact.
bool IsPrivateUse(wchar_t unit) { return unit >= 0xE000 && unit <= 0xF8FF; }

bool IsHighSurrogate(wchar_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(wchar_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Appends the code page 936 form of one character (one UTF-16 unit or a surrogate pair) when it
// has an exact one: no default character, no best fit, and the bytes read back as the same
// character.
bool AppendAnsiChar(const wchar_t* units, int count, std::string& ansi) {
  if (count == 1 && units[0] < 0x80) {
    ansi.push_back(static_cast<char>(units[0]));
    return true;
  }
  if (count == 1 && IsPrivateUse(units[0])) return false;
  char bytes[8];
  BOOL usedDefault = FALSE;
  int length = WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, units, count, bytes,
                                   sizeof bytes, nullptr, &usedDefault);
  if (length <= 0 || usedDefault) return false;
  wchar_t back[4];
  int backLength = MultiByteToWideChar(kCodePage, MB_ERR_INVALID_CHARS, bytes, length, back, 4);
  if (backLength != count || std::wmemcmp(back, units, static_cast<size_t>(count)) != 0) {
    return false;
  }
  ansi.append(bytes, static_cast<size_t>(length));
  return true;
}

// UTF-16 to code page 936, one '?' for each character without an exact form (a surrogate pair is
// one character). Returns true when every character converted exactly.
bool WideToAnsi(std::wstring_view wide, std::string& ansi) {
  ansi.clear();
  bool exact = true;
  for (size_t i = 0; i < wide.size();) {
    int count =
        IsHighSurrogate(wide[i]) && i + 1 < wide.size() && IsLowSurrogate(wide[i + 1]) ? 2 : 1;
    if (!AppendAnsiChar(&wide[i], count, ansi)) {
      ansi.push_back('?');
      exact = false;
    }
    i += static_cast<size_t>(count);
  }
  return exact;
}

// Converts `bytes` whole, refusing any invalid sequence; false when it does not convert.
bool DecodeStrictly(UINT codePage, std::string_view bytes, std::wstring& wide) {
  wide.clear();
  if (bytes.empty()) return true;
  int inLength = static_cast<int>(bytes.size());
  int length =
      MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), inLength, nullptr, 0);
  if (length <= 0) return false;
  wide.resize(static_cast<size_t>(length));
  return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), inLength, wide.data(),
                             length) == length;
}

std::string WideToUtf8(std::wstring_view wide) {
  std::string utf8;
  if (wide.empty()) return utf8;
  int inLength = static_cast<int>(wide.size());
  int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), inLength, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return utf8;
  utf8.resize(static_cast<size_t>(length));
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), inLength, utf8.data(), length, nullptr, nullptr);
  return utf8;
}

bool HasPrivateUse(std::wstring_view wide) {
  return std::any_of(wide.begin(), wide.end(), IsPrivateUse);
}

// ---- NTFS listing order

// The simple upper-case mapping of NTFS, one UTF-16 unit at a time; surrogates stay as they are.
std::u16string UpperCased(std::u16string_view name) {
  std::u16string upper(name);
  for (char16_t& unit : upper) {
    if (unit >= u'a' && unit <= u'z') {
      unit = static_cast<char16_t>(unit - u'a' + u'A');
    } else if (unit >= 0x80 && !IsHighSurrogate(unit) && !IsLowSurrogate(unit)) {
      wchar_t in = static_cast<wchar_t>(unit);
      wchar_t mapped = in;
      if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, &in, 1, &mapped, 1, nullptr,
                        nullptr, 0) == 1) {
        unit = static_cast<char16_t>(mapped);
      }
    }
  }
  return upper;
}

std::wstring ToWide(std::u16string_view units) { return std::wstring(units.begin(), units.end()); }

// A handle that closes itself.
struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

UniqueHandle Owned(HANDLE handle) {
  return UniqueHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

// ---- Paths for the services

// The form of `path` the W services take: its UTF-16 text, or for a path of MAX_PATH units or
// more, which the services refuse (error 206, file name too long) and the Linux build takes, the
// "\\?\" form of the full path, which has no such limit. The full path rests on the current
// folder, which the tool never changes. Empty, which no service opens, when `path` is no valid
// code page 936 text.
std::wstring WidePath(const std::string& path) {
  std::wstring wide;
  if (!DecodeStrictly(kCodePage, path, wide)) return {};
  if (wide.size() < MAX_PATH) return wide;
  DWORD length = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  std::wstring full(length, L'\0');
  length = GetFullPathNameW(wide.c_str(), length, full.data(), nullptr);
  if (length == 0 || length >= full.size()) return {};
  full.resize(length);
  if (full.starts_with(L"\\\\?\\")) return full;
  if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

DWORD Attributes(const std::string& path) { return GetFileAttributesW(WidePath(path).c_str()); }

// Empty when the file cannot be opened; GetLastError() tells why.
UniqueHandle OpenHandle(const std::string& path, DWORD access, DWORD disposition, DWORD flags,
                        DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE) {
  return Owned(
      CreateFileW(WidePath(path).c_str(), access, share, nullptr, disposition, flags, nullptr));
}

// ---- Files

// The path of the file that `path` finally names, links followed; `path` itself when it does
// not exist or the final path has no exact code page 936 form.
std::string FinalPath(const std::string& path) {
  UniqueHandle file = OpenHandle(path, 0, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  if (!file) return path;
  std::wstring wide(MAX_PATH, L'\0');
  DWORD length = GetFinalPathNameByHandleW(file.get(), wide.data(), static_cast<DWORD>(wide.size()),
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length >= wide.size()) {
    wide.resize(length + 1);
    length = GetFinalPathNameByHandleW(file.get(), wide.data(), static_cast<DWORD>(wide.size()),
                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  }
  if (length == 0 || length >= wide.size()) return path;
  wide.resize(length);
  // The service answers in the "\\?\" form: "\\?\C:\dir\x.ini" or "\\?\UNC\server\share\x.ini".
  if (wide.starts_with(L"\\\\?\\UNC\\")) {
    wide.replace(0, 8, L"\\\\");
  } else if (wide.starts_with(L"\\\\?\\")) {
    wide.erase(0, 4);
  }
  std::string ansi;
  return WideToAnsi(wide, ansi) ? ansi : path;
}

bool WriteAll(HANDLE file, std::string_view content) {
  while (!content.empty()) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(content.size(), 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file, content.data(), chunk, &written, nullptr) || written == 0) return false;
    content.remove_prefix(written);
  }
  return true;
}

}  // namespace

// ---- Process

bool GetExecutablePath(std::string& path) {
  path.clear();
  std::wstring wide;
  for (DWORD size = MAX_PATH;; size *= 2) {
    if (size > kMaxPathBuffer) return false;
    wide.assign(size, L'\0');
    DWORD length = GetModuleFileNameW(nullptr, wide.data(), size);
    if (length == 0) return false;
    // A cut path comes back as long as the buffer.
    if (length < size) {
      wide.resize(length);
      break;
    }
  }
  if (!WideToAnsi(wide, path)) {
    path.clear();
    return false;
  }
  return true;
}

// ---- Multibyte text

std::string AnsiToUtf8(std::string_view ansi) {
  std::wstring wide;
  if (DecodeStrictly(kCodePage, ansi, wide) && !HasPrivateUse(wide)) return WideToUtf8(wide);
  // Character by character: each character that does not convert becomes one '?'.
  std::string utf8;
  for (size_t i = 0; i < ansi.size();) {
    size_t length = i + 1 < ansi.size() && IsLeadByte(static_cast<unsigned char>(ansi[i])) ? 2 : 1;
    if (DecodeStrictly(kCodePage, ansi.substr(i, length), wide) && !HasPrivateUse(wide)) {
      utf8 += WideToUtf8(wide);
    } else {
      utf8.push_back('?');
    }
    i += length;
  }
  return utf8;
}

std::string Utf8ToAnsi(std::string_view utf8) {
  std::wstring wide;
  std::string ansi;
  if (DecodeStrictly(CP_UTF8, utf8, wide) && WideToAnsi(wide, ansi)) return ansi;
  // Sequence by sequence: each one without an exact code page 936 form becomes one '?'.
  ansi.clear();
  while (!utf8.empty()) {
    size_t length = Utf8SequenceLength(utf8);
    char32_t code = 0;
    std::u16string units;
    if (DecodeUtf8Sequence(utf8.substr(0, length), code)) AppendUtf16(code, units);
    std::wstring wideUnits = ToWide(units);
    if (units.empty() ||
        !AppendAnsiChar(wideUnits.data(), static_cast<int>(wideUnits.size()), ansi)) {
      ansi.push_back('?');
    }
    utf8.remove_prefix(length);
  }
  return ansi;
}

// ---- Folder listing

bool ListDirectory(const std::string& directory, std::vector<DirEntry>& entries) {
  entries.clear();
  std::wstring pattern = WidePath(directory + "*.*");
  WIN32_FIND_DATAW found;
  std::unique_ptr<void, decltype(&FindClose)> search(FindFirstFileW(pattern.c_str(), &found),
                                                     &FindClose);
  if (search.get() == INVALID_HANDLE_VALUE) {
    search.release();
    return false;
  }

  std::vector<ListedName> names;
  do {
    std::u16string units(found.cFileName, found.cFileName + std::wcslen(found.cFileName));
    if (units == u"." || units == u"..") continue;
    // A link that leads to a folder carries the folder attribute too.
    names.push_back({UpperCased(units), units, {}, found.dwFileAttributes});
  } while (FindNextFileW(search.get(), &found));
  // Only FAT-like file systems give another order; NTFS gives this one already.
  entries = OrderedListing(names, [](const ListedName& listed) {
    DirEntry entry;
    entry.nameExact = WideToAnsi(ToWide(listed.units), entry.name);
    entry.isDirectory = (listed.type & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return entry;
  });
  return true;
}

// ---- Files

bool GetFileId(const std::string& path, FileId& id) {
  UniqueHandle file =
      OpenHandle(path, FILE_READ_ATTRIBUTES, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  BY_HANDLE_FILE_INFORMATION info;
  // Some network and FAT volumes give every file the index 0: no identity to be had there.
  if (!file || !GetFileInformationByHandle(file.get(), &info) ||
      (info.nFileIndexHigh == 0 && info.nFileIndexLow == 0)) {
    return false;
  }
  id.volume = info.dwVolumeSerialNumber;
  id.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

void InputFile::Close(std::intptr_t handle) { CloseHandle(reinterpret_cast<HANDLE>(handle)); }

InputFile InputFile::Open(const std::string& path, bool* missing) {
  InputFile file;
  UniqueHandle handle = OpenHandle(path, GENERIC_READ, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN);
  if (!handle) {
    DWORD error = GetLastError();
    if (missing != nullptr) {
      *missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    return file;
  }
  LARGE_INTEGER size;
  // A folder does not open without backup semantics; a pipe or a device is no disk file.
  if (GetFileType(handle.get()) != FILE_TYPE_DISK || !GetFileSizeEx(handle.get(), &size)) {
    return file;
  }
  file.m_SizeAtOpen = static_cast<std::uint64_t>(size.QuadPart);
  file.m_Handle = reinterpret_cast<std::intptr_t>(handle.release());
  return file;
}

std::int64_t InputFile::Read(void* buffer, size_t size) {
  if (m_AtEnd || size == 0) return 0;
  DWORD got = 0;
  DWORD asked = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
  if (!ReadFile(reinterpret_cast<HANDLE>(m_Handle), buffer, asked, &got, nullptr)) return -1;
  m_Offset += got;
  if (got == 0 || (got < asked && m_Offset >= m_SizeAtOpen)) m_AtEnd = true;
  return got;
}

bool ReplaceFileAtomically(const std::string& path, std::string_view content) {
  // A link is followed, so that the file it leads to is replaced and the link kept; the rename
  // alone would put the new file in the link's place.
  std::string target = FinalPath(path);
  DWORD old = Attributes(target);
  bool exists = old != INVALID_FILE_ATTRIBUTES;
  // Checked here because Wine replaces a read-only file, and as root ignores the attribute.
  if (exists && (old & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) return false;

  size_t separator = FindLastSeparator(target);
  std::string folder =
      separator == std::string::npos ? std::string() : target.substr(0, separator + 1);
  std::string name = separator == std::string::npos ? target : target.substr(separator + 1);
  // The leading dot keeps a leftover out of a later run's lists.
  std::string stem = folder + "." + name + "." + std::to_string(GetCurrentProcessId());
  std::string temporary;
  UniqueHandle file;
  for (int attempt = 0; attempt < 100 && !file; ++attempt) {
    temporary = stem;
    if (attempt != 0) temporary.append("-").append(std::to_string(attempt));
    temporary += ".tmp";
    file = OpenHandle(temporary, GENERIC_WRITE, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, 0);
    if (!file && GetLastError() != ERROR_FILE_EXISTS) return false;
  }
  if (!file) return false;

  bool ok = WriteAll(file.get(), content) && FlushFileBuffers(file.get()) != FALSE;
  ok = CloseHandle(file.release()) != FALSE && ok;
  constexpr DWORD kKeptAttributes =
      FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  std::wstring wideTemporary = WidePath(temporary);
  if (ok && exists && (old & kKeptAttributes) != 0) {
    ok = SetFileAttributesW(wideTemporary.c_str(),
                            old & (kKeptAttributes | FILE_ATTRIBUTE_ARCHIVE)) != FALSE;
  }
  if (ok) {
    ok = MoveFileExW(wideTemporary.c_str(), WidePath(target).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
  }
  if (!ok) DeleteFileW(wideTemporary.c_str());
  return ok;
}

// ---- Console

bool WriteConsoleText(std::string_view text) {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  // GetConsoleMode fails for a file or a pipe: those get the bytes themselves.
  static const bool console = GetConsoleMode(output, &mode) != FALSE;
  if (!console) return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
  if (text.empty()) return true;
  // Code page 936 whatever the console's own code page.
  int inLength = static_cast<int>(text.size());
  int length = MultiByteToWideChar(kCodePage, 0, text.data(), inLength, nullptr, 0);
  std::wstring wide(static_cast<size_t>(std::max(length, 0)), L'\0');
  if (length <= 0 ||
      MultiByteToWideChar(kCodePage, 0, text.data(), inLength, wide.data(), length) != length) {
    return false;
  }
  DWORD written = 0;
  return WriteConsoleW(output, wide.data(), static_cast<DWORD>(length), &written, nullptr) &&
         written == static_cast<DWORD>(length);
}

}  // namespace platform
