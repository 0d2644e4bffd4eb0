// Windows implementation of the platform layer, over the ANSI (A) services of Win32 and the C
// runtime's own streams. Folder entries come from the wide listing: the ANSI listing shows a
// name without an exact ANSI form as '?' or as a best-fit look-alike, which would name another
// file or none, so the names are converted here and such a name is marked as not exact.
//
// Wherever Windows leaves a choice (the order of a listing, characters of the code page's
// user-defined area, a link in place of an INI file, a path longer than the A services take),
// the choice is the one the POSIX build makes, so that both builds give the same bytes for the
// same folder.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "platform/platform.h"

namespace platform {

const char kPathSeparator = '\\';

namespace {

// Windows paths hold at most 32767 UTF-16 units; in the ANSI code page that is twice as many
// bytes at most.
constexpr DWORD kMaxPathLength = 1u << 16;

// Code page 936 maps its user-defined area to the private-use characters; the C library's
// tables of the POSIX build do not know them, so neither build takes such a character as exact.
bool IsPrivateUse(wchar_t unit) { return unit >= 0xE000 && unit <= 0xF8FF; }

bool IsHighSurrogate(wchar_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(wchar_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Appends the ANSI form of one character (one UTF-16 unit or a surrogate pair) when it has an
// exact one: no default character, no best fit, and the bytes read back as the same character.
bool AppendAnsiChar(const wchar_t* units, int count, std::string& ansi) {
  if (count == 1 && units[0] < 0x80) {
    ansi.push_back(static_cast<char>(units[0]));
    return true;
  }
  if (count == 1 && IsPrivateUse(units[0])) return false;
  char bytes[8];
  BOOL usedDefault = FALSE;
  int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, units, count, bytes, sizeof bytes,
                                   nullptr, &usedDefault);
  if (length <= 0 || usedDefault) return false;
  wchar_t back[4];
  int backLength = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes, length, back, 4);
  if (backLength != count || std::wmemcmp(back, units, static_cast<size_t>(count)) != 0) {
    return false;
  }
  ansi.append(bytes, static_cast<size_t>(length));
  return true;
}

// UTF-16 to ANSI, one '?' for each character without an exact ANSI form (a surrogate pair is
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

// Length of the UTF-8 sequence that starts at `s` as the lead byte announces it, when `left`
// bytes hold it and its continuation bytes are there; 1 otherwise, so that each stray byte
// becomes a '?' of its own.
size_t Utf8SequenceLength(const char* s, size_t left) {
  auto lead = static_cast<unsigned char>(s[0]);
  size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (length == 0 || length > left) return 1;
  for (size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return 1;
  }
  return length;
}

// The UTF-16 units of one well-formed UTF-8 sequence; false for a stray byte, an overlong form,
// a surrogate or a code point beyond U+10FFFF.
bool DecodeUtf8Sequence(const char* s, size_t length, wchar_t units[2], int& count) {
  auto lead = static_cast<unsigned char>(s[0]);
  if (length == 1 && lead >= 0x80) return false;
  char32_t code = length == 1 ? lead : lead & (0x3F >> (length - 1));
  for (size_t i = 1; i < length; ++i)
    code = (code << 6) | (static_cast<unsigned char>(s[i]) & 0x3F);
  char32_t smallest = length == 1 ? 0 : length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
  if (code < smallest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
  if (code >= 0x10000) {
    code -= 0x10000;
    units[0] = static_cast<wchar_t>(0xD800 + (code >> 10));
    units[1] = static_cast<wchar_t>(0xDC00 + (code & 0x3FF));
    count = 2;
  } else {
    units[0] = static_cast<wchar_t>(code);
    count = 1;
  }
  return true;
}

bool HasPrivateUse(std::wstring_view wide) {
  return std::any_of(wide.begin(), wide.end(), IsPrivateUse);
}

// ---- NTFS listing order

// The simple upper-case mapping of NTFS, one UTF-16 unit at a time; surrogates stay as they are.
std::wstring UpperCased(std::wstring_view name) {
  std::wstring upper(name);
  for (wchar_t& unit : upper) {
    if (unit >= L'a' && unit <= L'z') {
      unit = static_cast<wchar_t>(unit - L'a' + L'A');
    } else if (unit >= 0x80 && !IsHighSurrogate(unit) && !IsLowSurrogate(unit)) {
      wchar_t mapped = unit;
      if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, &unit, 1, &mapped, 1, nullptr,
                        nullptr, 0) == 1) {
        unit = mapped;
      }
    }
  }
  return upper;
}

struct ListedName {
  std::wstring upper;
  std::wstring units;
  bool isDirectory;
};

bool NtfsOrder(const ListedName& a, const ListedName& b) {
  if (a.upper != b.upper) return a.upper < b.upper;
  return a.units < b.units;
}

// ---- Paths for the services

// The A services refuse a path of MAX_PATH characters or more (error 206, file name too long),
// which the Linux build takes. Such a path goes to the W service in the "\\?\" form instead,
// which has no such limit. A path of fewer than MAX_PATH bytes surely has fewer characters.
bool FitsAnsiServices(const std::string& path) { return path.size() < MAX_PATH; }

std::wstring LongPathForm(const std::string& path) {
  std::wstring wide;
  if (!DecodeStrictly(CP_ACP, path, wide)) return {};
  DWORD length = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  std::wstring full(length, L'\0');
  length = GetFullPathNameW(wide.c_str(), length, full.data(), nullptr);
  if (length == 0 || length >= full.size()) return {};
  full.resize(length);
  if (full.starts_with(L"\\\\?\\")) return full;
  if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

DWORD Attributes(const std::string& path) {
  return FitsAnsiServices(path) ? GetFileAttributesA(path.c_str())
                                : GetFileAttributesW(LongPathForm(path).c_str());
}

bool SetAttributes(const std::string& path, DWORD attributes) {
  return (FitsAnsiServices(path)
              ? SetFileAttributesA(path.c_str(), attributes)
              : SetFileAttributesW(LongPathForm(path).c_str(), attributes)) != FALSE;
}

HANDLE OpenHandle(const std::string& path, DWORD access, DWORD disposition, DWORD flags,
                  DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE) {
  return FitsAnsiServices(path)
             ? CreateFileA(path.c_str(), access, share, nullptr, disposition, flags, nullptr)
             : CreateFileW(LongPathForm(path).c_str(), access, share, nullptr, disposition, flags,
                           nullptr);
}

bool MoveReplacing(const std::string& from, const std::string& to) {
  constexpr DWORD kFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
  if (FitsAnsiServices(from) && FitsAnsiServices(to)) {
    return MoveFileExA(from.c_str(), to.c_str(), kFlags) != FALSE;
  }
  return MoveFileExW(LongPathForm(from).c_str(), LongPathForm(to).c_str(), kFlags) != FALSE;
}

void Delete(const std::string& path) {
  if (FitsAnsiServices(path)) {
    DeleteFileA(path.c_str());
  } else {
    DeleteFileW(LongPathForm(path).c_str());
  }
}

// fopen of the C runtime, whose streams keep its text-mode rules; `mode` is plain ASCII.
std::FILE* OpenStream(const std::string& path, const char* mode) {
  if (FitsAnsiServices(path)) return std::fopen(path.c_str(), mode);
  std::wstring wideMode(mode, mode + std::strlen(mode));
  return _wfopen(LongPathForm(path).c_str(), wideMode.c_str());
}

// ---- Files

bool IsFolder(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The path of the file that `path` finally names, links followed; `path` itself when it does
// not exist or the final path has no exact ANSI form.
std::string FinalPath(const std::string& path) {
  HANDLE file = OpenHandle(path, 0, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  if (file == INVALID_HANDLE_VALUE) return path;
  std::wstring wide(MAX_PATH, L'\0');
  DWORD length = GetFinalPathNameByHandleW(file, wide.data(), static_cast<DWORD>(wide.size()),
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length >= wide.size()) {
    wide.resize(length + 1);
    length = GetFinalPathNameByHandleW(file, wide.data(), static_cast<DWORD>(wide.size()),
                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  }
  CloseHandle(file);
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
  std::string ansi;
  for (DWORD size = MAX_PATH;; size *= 2) {
    if (size > kMaxPathLength) return false;
    ansi.assign(size, '\0');
    SetLastError(ERROR_SUCCESS);
    DWORD length = GetModuleFileNameA(nullptr, ansi.data(), size);
    if (length == 0) return false;
    // A cut path comes back either with the full size or, when the cut falls inside a
    // double-byte character, one byte shorter; the error code tells both apart from a whole one.
    if (length < size && GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
      ansi.resize(length);
      break;
    }
  }
  std::wstring wide;
  for (DWORD size = MAX_PATH;; size *= 2) {
    if (size > kMaxPathLength) return false;
    wide.assign(size, L'\0');
    DWORD length = GetModuleFileNameW(nullptr, wide.data(), size);
    if (length == 0) return false;
    if (length < size) {
      wide.resize(length);
      break;
    }
  }
  // The ANSI query gives '?' or a look-alike for a character without an exact ANSI form.
  std::string exact;
  if (!WideToAnsi(wide, exact) || exact != ansi) return false;
  path = std::move(ansi);
  return true;
}

// ---- Multibyte text

bool IsLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }

bool NamesEqual(std::string_view a, std::string_view b) {
  // lstrcmpA is a linguistic comparison: it also equates some different byte strings (an
  // invalid double-byte pair and '?', an iteration mark and the character it repeats), which
  // would skip the wrong file. Only the same bytes name the same entry.
  return a == b && lstrcmpA(std::string(a).c_str(), std::string(b).c_str()) == 0;
}

std::string AnsiToUtf8(std::string_view ansi) {
  std::wstring wide;
  if (DecodeStrictly(CP_ACP, ansi, wide) && !HasPrivateUse(wide)) return WideToUtf8(wide);
  // Character by character: each character that does not convert becomes one '?'.
  std::string utf8;
  for (size_t i = 0; i < ansi.size();) {
    size_t length = i + 1 < ansi.size() && IsLeadByte(static_cast<unsigned char>(ansi[i])) ? 2 : 1;
    if (DecodeStrictly(CP_ACP, ansi.substr(i, length), wide) && !HasPrivateUse(wide)) {
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
  // Sequence by sequence: each one without an exact ANSI form becomes one '?'.
  ansi.clear();
  for (size_t i = 0; i < utf8.size();) {
    size_t length = Utf8SequenceLength(&utf8[i], utf8.size() - i);
    wchar_t units[2];
    int count = 0;
    if (!DecodeUtf8Sequence(&utf8[i], length, units, count) ||
        !AppendAnsiChar(units, count, ansi)) {
      ansi.push_back('?');
    }
    i += length;
  }
  return ansi;
}

// ---- Folder listing

bool ListDirectory(const std::string& directory, std::vector<DirEntry>& entries) {
  entries.clear();
  std::string ansiPattern = directory + "*.*";
  std::wstring pattern;
  if (FitsAnsiServices(ansiPattern)) {
    if (!DecodeStrictly(CP_ACP, ansiPattern, pattern)) return false;
  } else {
    pattern = LongPathForm(directory) + L"*.*";
  }
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;

  std::vector<ListedName> names;
  do {
    std::wstring_view name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    // A link that leads to a folder carries the folder attribute too.
    names.push_back({UpperCased(name), std::wstring(name),
                     (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (FindNextFileW(search, &found));
  FindClose(search);
  // Only FAT-like file systems give another order; NTFS gives this one already.
  std::stable_sort(names.begin(), names.end(), NtfsOrder);

  entries.reserve(names.size() + 2);
  entries.push_back({".", true, true});
  entries.push_back({"..", true, true});
  for (const ListedName& listed : names) {
    DirEntry entry;
    entry.nameExact = WideToAnsi(listed.units, entry.name);
    entry.isDirectory = listed.isDirectory;
    entries.push_back(std::move(entry));
  }
  return true;
}

// ---- Files

bool GetFileId(const std::string& path, FileId& id) {
  HANDLE file = OpenHandle(path, FILE_READ_ATTRIBUTES, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  // Some network and FAT volumes give every file the index 0: no identity to be had there.
  bool known = GetFileInformationByHandle(file, &info) != FALSE &&
               (info.nFileIndexHigh != 0 || info.nFileIndexLow != 0);
  CloseHandle(file);
  if (!known) return false;
  id.volume = info.dwVolumeSerialNumber;
  id.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

FileStamp GetFileStamp(const std::string& path) {
  FileStamp stamp;
  WIN32_FILE_ATTRIBUTE_DATA data;
  BOOL found = FitsAnsiServices(path)
                   ? GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)
                   : GetFileAttributesExW(LongPathForm(path).c_str(), GetFileExInfoStandard, &data);
  if (!found) return stamp;
  stamp.exists = true;
  stamp.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  // FILETIME counts 100 ns steps from 1601; the stamp counts nanoseconds from 1970.
  constexpr std::int64_t kStepsFrom1601To1970 = 116444736000000000;
  std::int64_t steps = static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
      data.ftLastWriteTime.dwLowDateTime);
  stamp.modifiedNs = (steps - kStepsFrom1601To1970) * 100;
  return stamp;
}

std::FILE* OpenForBinaryRead(const std::string& path, char* buffer, size_t size) {
  if (IsFolder(Attributes(path))) return nullptr;
  std::FILE* file = OpenStream(path, "rb");
  if (file != nullptr) std::setvbuf(file, buffer, _IOFBF, size);
  return file;
}

ReadResult ReadWholeFile(const std::string& path, std::string& content) {
  content.clear();
  HANDLE file = OpenHandle(path, GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ReadResult::kMissing
                                                                          : ReadResult::kFailed;
  }
  LARGE_INTEGER size;
  if (GetFileSizeEx(file, &size)) content.reserve(static_cast<size_t>(size.QuadPart));
  char buffer[64 * 1024];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
      CloseHandle(file);
      content.clear();
      return ReadResult::kFailed;
    }
    if (got == 0) break;
    content.append(buffer, got);
  }
  CloseHandle(file);
  return ReadResult::kOk;
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
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
    temporary = stem;
    if (attempt != 0) temporary.append("-").append(std::to_string(attempt));
    temporary += ".tmp";
    file = OpenHandle(temporary, GENERIC_WRITE, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, 0);
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) return false;
  }
  if (file == INVALID_HANDLE_VALUE) return false;

  bool ok = WriteAll(file, content) && FlushFileBuffers(file) != FALSE;
  ok = CloseHandle(file) != FALSE && ok;
  constexpr DWORD kKeptAttributes =
      FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  if (ok && exists && (old & kKeptAttributes) != 0) {
    ok = SetAttributes(temporary, old & (kKeptAttributes | FILE_ATTRIBUTE_ARCHIVE));
  }
  if (ok) {
    ok = MoveReplacing(temporary, target);
  }
  if (!ok) Delete(temporary);
  return ok;
}

// ---- Text-mode streams

// The C runtime's own text mode does the translation; "t" asks for it whatever _fmode says.
struct TextFile {
  std::FILE* stream;
};

TextFile* OpenTextForReading(const std::string& path) {
  if (IsFolder(Attributes(path))) return nullptr;
  std::FILE* stream = OpenStream(path, "rt");
  return stream == nullptr ? nullptr : new TextFile{stream};
}

TextFile* CreateTextForWriting(const std::string& path) {
  // Wine opens a read-only file for writing when it runs as root; Windows refuses it.
  DWORD attributes = Attributes(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    return nullptr;
  }
  std::FILE* stream = OpenStream(path, "wt");
  return stream == nullptr ? nullptr : new TextFile{stream};
}

bool ReadTextLine(TextFile* file, char* buffer, int capacity) {
  if (capacity <= 1) return false;
  return std::fgets(buffer, capacity, file->stream) != nullptr;
}

bool TextAtEnd(TextFile* file) { return std::feof(file->stream) != 0; }

bool WriteTextLine(TextFile* file, const char* text) {
  return std::fprintf(file->stream, "%s\n", text) >= 0;
}

bool CloseText(TextFile* file) {
  bool ok = std::ferror(file->stream) == 0;
  ok = std::fclose(file->stream) == 0 && ok;
  delete file;
  return ok;
}

}  // namespace platform
