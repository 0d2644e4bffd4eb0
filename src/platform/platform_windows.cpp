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
#include <malloc.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
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

// The "\\?\" form of the full path of the folder `wide`, ending in a backslash. The services take
// a path of this form whatever its length (a path of MAX_PATH units or more they refuse
// otherwise, error 206, where the Linux build takes it), and a file's name is appended to it
// as it is. The full path rests on the current folder, which the tool never changes.
bool LongFormPrefix(const std::wstring& wide, std::wstring& prefix) {
  DWORD length = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  std::wstring full(length, L'\0');
  length = length == 0 ? 0 : GetFullPathNameW(wide.c_str(), length, full.data(), nullptr);
  if (length == 0 || length >= full.size()) return false;
  full.resize(length);
  if (!full.ends_with(L'\\')) full.push_back(L'\\');
  if (full.starts_with(L"\\\\?\\")) {
    prefix = full;
  } else if (full.starts_with(L"\\\\")) {
    prefix = L"\\\\?\\UNC\\" + full.substr(2);
  } else {
    prefix = L"\\\\?\\" + full;
  }
  return true;
}

// Empty when the file cannot be opened; GetLastError() tells why.
UniqueHandle OpenHandle(const std::wstring& path, DWORD access, DWORD disposition, DWORD flags,
                        DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE) {
  return Owned(CreateFileW(path.c_str(), access, share, nullptr, disposition, flags, nullptr));
}

// ---- Files

// The path of the file that `path` finally names, links followed, in the "\\?\" form; `path`
// itself when nothing can be opened there.
std::wstring FinalPath(const std::wstring& path) {
  UniqueHandle file = OpenHandle(path, 0, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  if (!file) return path;
  std::wstring final(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    DWORD length =
        GetFinalPathNameByHandleW(file.get(), final.data(), static_cast<DWORD>(final.size()),
                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return path;
    if (length < final.size()) {
      final.resize(length);
      return final;
    }
    final.resize(length + 1);
  }
  return path;
}

// The file index of what the link `path` leads to; none where it leads nowhere or the volume
// gives files no index (some network and FAT volumes give every file 0).
std::optional<FileId> IdOfTarget(const std::wstring& path) {
  UniqueHandle file =
      OpenHandle(path, FILE_READ_ATTRIBUTES, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  BY_HANDLE_FILE_INFORMATION info;
  if (!file || !GetFileInformationByHandle(file.get(), &info) ||
      (info.nFileIndexHigh == 0 && info.nFileIndexLow == 0)) {
    return std::nullopt;
  }
  return FileId{0, (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

// What identifies the content of the open file `file`, and its size; false for anything but a
// file on a disk (under Wine a pipe or a device gives no basic information) and for a folder.
bool ContentStamp(HANDLE file, InputFile::Stamp& stamp, std::uint64_t& size) {
  FILE_STANDARD_INFO standard;
  FILE_BASIC_INFO basic;
  if (!GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard) ||
      !GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) ||
      standard.Directory) {
    return false;
  }
  stamp = {};
  stamp.modified = basic.LastWriteTime.QuadPart;
  stamp.changed = basic.ChangeTime.QuadPart;
  // A file deleted or replaced while it is open has no name left: no link. Under Wine that is
  // how a file replaced or deleted from Linux shows.
  stamp.links = standard.DeletePending ? 0 : standard.NumberOfLinks;
  size = static_cast<std::uint64_t>(standard.EndOfFile.QuadPart);
  return true;
}

// GetConsoleMode fails for a file, a pipe and the null device.
bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return GetConsoleMode(handle, &mode) != FALSE;
}

bool WriteAll(HANDLE file, std::string_view content) {
  while (!content.empty()) {
    // Pieces of 1 MiB, as the POSIX build writes: Wine makes each call one write of Linux.
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(content.size(), 1u << 20));
    DWORD written = 0;
    if (!WriteFile(file, content.data(), chunk, &written, nullptr) || written == 0) return false;
    content.remove_prefix(written);
  }
  return true;
}

// Creates a new temporary file beside `target`; the leading dot keeps a leftover out of a later
// run's lists.
UniqueHandle CreateTemporary(const std::wstring& target, std::wstring& temporary) {
  size_t separator = target.rfind(L'\\') + 1;
  std::wstring stem = target.substr(0, separator) + L"." + target.substr(separator) + L"." +
                      std::to_wstring(GetCurrentProcessId());
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary = stem;
    if (attempt != 0) temporary.append(L"-").append(std::to_wstring(attempt));
    temporary += L".tmp";
    UniqueHandle file = OpenHandle(temporary, GENERIC_WRITE, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, 0);
    if (file || GetLastError() != ERROR_FILE_EXISTS) return file;
  }
  return UniqueHandle();
}

// Writes and flushes `content`, then gives the file the attributes of the old one (`old`) that a
// replace must keep.
bool FillTemporary(UniqueHandle file, const std::wstring& temporary, std::string_view content,
                   DWORD old) {
  bool ok = WriteAll(file.get(), content) && FlushFileBuffers(file.get()) != FALSE;
  ok = CloseHandle(file.release()) != FALSE && ok;
  constexpr DWORD kKeptAttributes =
      FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  if (ok && old != INVALID_FILE_ATTRIBUTES && (old & kKeptAttributes) != 0) {
    ok = SetFileAttributesW(temporary.c_str(), old & (kKeptAttributes | FILE_ATTRIBUTE_ARCHIVE)) !=
         FALSE;
  }
  return ok;
}

}  // namespace

// ---- Folders

struct FolderAccess {
  static HANDLE Handle(const Folder& folder) { return reinterpret_cast<HANDLE>(folder.m_Handle); }
  static const std::wstring& Prefix(const Folder& folder) { return folder.m_WidePrefix; }

  // Opens the folder `wide`, whose path the console shows as `ansi`.
  static Folder Open(const std::wstring& wide, std::string ansi) {
    Folder folder;
    std::wstring prefix;
    if (!LongFormPrefix(wide, prefix)) return folder;
    UniqueHandle handle =
        OpenHandle(prefix, FILE_LIST_DIRECTORY, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    // A folder this user may not list is still reached: then only its listing fails, and says
    // which folder.
    if (!handle && GetLastError() == ERROR_ACCESS_DENIED) {
      handle = OpenHandle(prefix, FILE_READ_ATTRIBUTES, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    }
    if (!handle) return folder;
    // The last byte can be the second byte of a double-byte character, which is no separator.
    if (ansi.empty() || FindLastSeparator(ansi) != ansi.size() - 1) ansi.push_back('\\');
    folder.m_Handle = reinterpret_cast<std::intptr_t>(handle.release());
    folder.m_Path = std::move(ansi);
    folder.m_WidePrefix = std::move(prefix);
    return folder;
  }
};

void Folder::Close(std::intptr_t handle) { CloseHandle(reinterpret_cast<HANDLE>(handle)); }

Folder Folder::Open(const std::string& path) {
  std::wstring wide;
  if (!DecodeStrictly(kCodePage, path, wide)) return Folder();
  return FolderAccess::Open(wide, path);
}

bool OpenExecutableFolder(Folder& folder, std::string& executableName) {
  folder = Folder();
  executableName.clear();
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
  size_t separator = wide.rfind(L'\\');
  if (separator == std::wstring::npos) return false;
  std::wstring folderPath = wide.substr(0, separator + 1);
  std::string ansi;
  if (!WideToAnsi(folderPath, ansi)) return false;
  // The name is only compared with listed names: one without an exact form matches none.
  WideToAnsi(std::wstring_view(wide).substr(separator + 1), executableName);
  folder = FolderAccess::Open(folderPath, std::move(ansi));
  return folder.IsOpen();
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

bool ListDirectory(const Folder& folder, std::vector<DirEntry>& entries) {
  entries.clear();
  // One call gives hundreds of entries, each with its file index.
  constexpr DWORD kBufferSize = 64 * 1024;
  std::unique_ptr<LONGLONG[]> buffer(new LONGLONG[kBufferSize / sizeof(LONGLONG)]);
  std::vector<ListedName> names;
  FILE_INFO_BY_HANDLE_CLASS request = FileIdBothDirectoryRestartInfo;
  while (GetFileInformationByHandleEx(FolderAccess::Handle(folder), request, buffer.get(),
                                      kBufferSize)) {
    request = FileIdBothDirectoryInfo;
    auto* bytes = reinterpret_cast<const unsigned char*>(buffer.get());
    for (;;) {
      const auto* found = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes);
      std::u16string units(reinterpret_cast<const char16_t*>(found->FileName),
                           found->FileNameLength / sizeof(WCHAR));
      if (units != u"." && units != u"..") {
        names.push_back({UnitOrderKey(UpperCased(units)),
                         units,
                         {},
                         found->FileAttributes,
                         static_cast<std::uint64_t>(found->FileId.QuadPart)});
      }
      if (found->NextEntryOffset == 0) break;
      bytes += found->NextEntryOffset;
    }
  }
  if (GetLastError() != ERROR_NO_MORE_FILES) return false;
  // Only FAT-like file systems give another order; NTFS gives this one already.
  entries = OrderedListing(names, [&](const ListedName& listed) {
    DirEntry entry;
    std::wstring wide = ToWide(listed.units);
    entry.nameExact = WideToAnsi(wide, entry.name);
    // A link that leads to a folder carries the folder attribute too.
    entry.isDirectory = (listed.type & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (entry.isDirectory) return entry;
    // The listing gives a link's own index; what it leads to takes a query. Under Wine a link
    // made on Linux shows as the file it leads to, with that file's index.
    if ((listed.type & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      entry.id = IdOfTarget(FolderAccess::Prefix(folder) + wide);
    } else if (listed.index != 0) {
      entry.id = FileId{0, listed.index};
    }
    return entry;
  });
  return true;
}

// ---- Memory

void ReleaseFreedMemory() {
  // The C runtime's heap keeps freed pages for its next allocations otherwise.
  _heapmin();
}

// ---- Files

void InputFile::Close(std::intptr_t handle) { CloseHandle(reinterpret_cast<HANDLE>(handle)); }

InputFile InputFile::Open(const Folder& folder, const std::string& name, bool* missing) {
  InputFile file;
  if (missing != nullptr) *missing = false;
  std::wstring wide;
  if (!DecodeStrictly(kCodePage, name, wide)) return file;
  // Shared for reading only: no program may write, rename or delete the file while it is read.
  UniqueHandle handle = OpenHandle(FolderAccess::Prefix(folder) + wide, GENERIC_READ, OPEN_EXISTING,
                                   FILE_FLAG_SEQUENTIAL_SCAN, FILE_SHARE_READ);
  if (!handle) {
    DWORD error = GetLastError();
    if (missing != nullptr) {
      *missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    return file;
  }
  if (!ContentStamp(handle.get(), file.m_Stamp, file.m_SizeAtOpen)) return file;
  file.m_Handle = reinterpret_cast<std::intptr_t>(handle.release());
  return file;
}

std::int64_t InputFile::ReadHandle(std::intptr_t handle, void* buffer, size_t size) {
  DWORD got = 0;
  DWORD asked = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
  if (!ReadFile(reinterpret_cast<HANDLE>(handle), buffer, asked, &got, nullptr)) return -1;
  return got;
}

bool InputFile::UnchangedSinceOpen() const {
  // No program of this system could change the file while it was shared for reading only; one
  // of the system below (Linux under Wine) could, and that shows here.
  Stamp now;
  std::uint64_t size = 0;
  return ContentStamp(reinterpret_cast<HANDLE>(m_Handle), now, size) && now == m_Stamp &&
         size == m_SizeAtOpen && now.links != 0;
}

bool ReplaceFileAtomically(const Folder& folder, const std::string& name,
                           std::string_view content) {
  std::wstring wide;
  if (!DecodeStrictly(kCodePage, name, wide)) return false;
  // A link is followed, so that the file it leads to is replaced and the link kept; the rename
  // alone would put the new file in the link's place.
  const std::wstring target = FinalPath(FolderAccess::Prefix(folder) + wide);
  DWORD old = GetFileAttributesW(target.c_str());
  // Checked here because Wine replaces a read-only file, and as root ignores the attribute.
  if (old != INVALID_FILE_ATTRIBUTES &&
      (old & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
    return false;
  }
  std::wstring temporary;
  UniqueHandle file = CreateTemporary(target, temporary);
  if (!file) return false;
  bool ok = FillTemporary(std::move(file), temporary, content, old);
  if (ok) {
    ok = MoveFileExW(temporary.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
  }
  if (!ok) DeleteFileW(temporary.c_str());
  return ok;
}

// A process may hold millions of handles.
size_t ReserveOpenFiles(size_t wanted) { return wanted; }

// ---- Console

bool ConsoleIsWatched() {
  static const bool console = IsConsole(GetStdHandle(STD_OUTPUT_HANDLE));
  return console;
}

void AppendConsoleForm(std::string_view text, std::string& pending) {
  if (!ConsoleIsWatched()) {
    // As the C runtime's text mode writes it.
    for (size_t lineEnd; (lineEnd = text.find('\n')) != std::string_view::npos;) {
      pending.append(text.substr(0, lineEnd));
      pending.push_back('\r');
      pending.push_back('\n');
      text.remove_prefix(lineEnd + 1);
    }
    pending.append(text);
    return;
  }
  // UTF-16 units, kept as their bytes: code page 936 whatever the console's own code page.
  int inLength = static_cast<int>(text.size());
  int length = MultiByteToWideChar(kCodePage, 0, text.data(), inLength, nullptr, 0);
  if (length <= 0) return;
  size_t start = pending.size();
  pending.resize(start + static_cast<size_t>(length) * sizeof(wchar_t));
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(kCodePage, 0, text.data(), inLength, wide.data(), length);
  std::memcpy(pending.data() + start, wide.data(), pending.size() - start);
}

bool WriteConsoleBytes(std::string_view pending) {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (!ConsoleIsWatched()) return WriteAll(output, pending);
  std::wstring wide(pending.size() / sizeof(wchar_t), L'\0');
  std::memcpy(wide.data(), pending.data(), wide.size() * sizeof(wchar_t));
  // Older consoles refuse a single write of more than about 64 KiB.
  for (size_t done = 0; done < wide.size();) {
    DWORD piece = static_cast<DWORD>(std::min<size_t>(wide.size() - done, 8192));
    DWORD written = 0;
    if (!WriteConsoleW(output, wide.data() + done, piece, &written, nullptr) || written == 0) {
      return false;
    }
    done += written;
  }
  return true;
}

void WaitForKey() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (!IsConsole(input)) {
    char byte;
    DWORD got = 0;
    ReadFile(input, &byte, 1, &got, nullptr);
    return;
  }
  // One key pressed; the release of the Enter that started the tool, a mouse move or a
  // resize of the window does not count.
  for (;;) {
    INPUT_RECORD record;
    DWORD got = 0;
    if (!ReadConsoleInputW(input, &record, 1, &got) || got == 0) return;
    if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) return;
  }
}

}  // namespace platform
