// The thin layer over the operating system. Every OS call of the tool sits behind this header;
// platform_posix.cpp and platform_windows.cpp implement it, and CMake builds one of them.
//
// All text crossing this header is a narrow byte string in code page 936 (GBK), the ANSI code
// page of a Chinese Windows, which "ANSI" means below. Each build converts names and paths to and
// from it itself: the Windows build from the UTF-16 of the wide services, whatever the system's
// own code page, the POSIX build from the UTF-8 names of the file system. So both builds see a
// folder as a Chinese Windows does and write the same bytes for it.
//
// Threads: every function here may run on several threads at once, and so may the members of
// one Folder, but for the console's (one thread at a time); an InputFile belongs to one thread at
// a time. What the layer shares between threads is set up once and then only read (the folder's
// descriptor and path, the code page tables), is atomic (the counter that names temporary
// files) or lies behind a lock (the console's pending text); a library handle with conversion
// state (iconv, a C locale) belongs to one thread. Files are reached by name inside an open
// Folder, never by a path the tool puts together, so a folder's path may be of any length; the
// tool never changes the current folder.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// ---- Folders ------------------------------------------------------------------------------

// The character between a folder and a name in the paths this platform shows ('\\' on Windows,
// '/' elsewhere).
extern const char kPathSeparator;

// A folder held open for the run. Every file operation below goes by a name inside it (no
// separator in the name), so no path the tool builds is longer than a name, and the system
// need not walk the folder's whole path for every file. It closes itself.
class Folder {
 public:
  Folder() = default;
  Folder(Folder&& other) noexcept;
  Folder& operator=(Folder&& other) noexcept;
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  ~Folder();

  // Opens the folder at `path` (ANSI, absolute or relative to the current folder, with or
  // without the separator at its end). Not open when it cannot be opened.
  static Folder Open(const std::string& path);

  bool IsOpen() const { return m_Handle != kNotOpen; }
  // The folder's path as the console shows it: ANSI, ending in the path separator.
  const std::string& Path() const { return m_Path; }
  // Path() followed by `name`: what the console shows for a file of the folder.
  std::string PathOf(std::string_view name) const { return m_Path + std::string(name); }

 private:
  friend struct FolderAccess;  // the platform files' way to the handle
  static constexpr std::intptr_t kNotOpen = -1;
  static void Close(std::intptr_t handle);
  std::intptr_t m_Handle = kNotOpen;  // a descriptor, or a folder HANDLE on Windows
  std::string m_Path;
  std::wstring m_WidePrefix;  // Windows: the folder's path for the wide services, in the
                              // "\\?\" form, ending in '\\'; what each file's name is appended to
};

// The folder of the running executable, opened, and the executable's own name in it. Started
// through a path (POSIX), the folder is the one the kernel reached through it: its folder part
// resolved physically, each ".." from where the walk stands, links followed, whatever its
// length; its last component stays as it was given, so a link to the executable placed in a
// release folder works on that folder. Started without one (found on PATH), and on Windows,
// the executable's own file. Returns false, with `folder` not open, when the folder cannot be
// had, or its path has no exact form in the ANSI code page.
bool OpenExecutableFolder(Folder& folder, std::string& executableName);

// ---- Multibyte text of the ANSI code page -------------------------------------------------

// True for a lead byte of a double-byte character (0x81 to 0xFE in code page 936).
bool IsLeadByte(unsigned char byte);

// Offset of the last path separator in `path`, read character by character so that the second
// byte of a double-byte character is never taken for one; std::string_view::npos when none.
size_t FindLastSeparator(std::string_view path);

// The runtime's multibyte comparison: characters compared by code (lead byte * 256 + second
// byte for a double-byte character, the byte's unsigned value otherwise); a proper prefix sorts
// first. Returns -1, 0 or 1.
int CompareMultibyte(std::string_view a, std::string_view b);

// True when `text` holds no byte 0xFF. Texts of which this holds compare byte by byte (as
// unsigned values) as CompareMultibyte compares them: at the first difference a lead byte meets
// another lead byte, the same lead byte's second byte, or a single byte below it, 0xFF being the
// one single byte above the lead bytes. File names and digests in the ANSI code page hold none.
bool ComparesAsBytes(std::string_view text);

// True when `a` and `b` are equal but for the case of ASCII letters, as Windows matches the
// names the tool knows (client.ini, Tabulon.exe, ...); a double-byte character matches only
// itself.
bool EqualIgnoringCase(std::string_view a, std::string_view b);

// Conversions between the ANSI code page and UTF-8, for INI files that carry a UTF-8 byte-order
// mark. Characters without an exact form in the target become '?'.
std::string AnsiToUtf8(std::string_view ansi);
std::string Utf8ToAnsi(std::string_view utf8);

// Conversions between the ANSI code page and UTF-16, for INI files that begin with the UTF-16
// byte-order mark. Both go through the UTF-8 conversions above (unicode.cpp), so both builds
// give the same result. Characters without an exact form in the target become '?', and so does
// a surrogate without its pair. Both may run on several threads at once, as the UTF-8 ones.
std::u16string AnsiToUtf16(std::string_view ansi);
std::string Utf16ToAnsi(std::u16string_view units);
// Utf16ToAnsi of UTF-16 LE text as a file stores it, two bytes a unit; an odd last byte is
// dropped.
std::string Utf16LittleEndianToAnsi(std::string_view bytes);

// ---- Folder listing -----------------------------------------------------------------------

// What tells files apart whatever name leads to them (links, hard links): the file's number on
// its volume. Comparable between the entries of one listing.
struct FileId {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  bool operator==(const FileId&) const = default;
};

struct DirEntry {
  std::string name;          // ANSI; a character without an exact ANSI form is shown as '?'
  bool nameExact = true;     // false when `name` is not the entry's real name
  bool isDirectory = false;  // a folder, or a link that leads to one
  // Another entry's name is equal to this one's but for letter case, as NTFS compares names
  // (the upper-casing of the listing order): no Windows folder can hold both.
  bool hasCaseTwin = false;
  // The identity of the file the entry leads to (a link's target). None for a dangling link,
  // and where the system does not tell it.
  std::optional<FileId> id;
};

// Lists the entries of `folder`: ".", "..", then every entry in the order NTFS gives them
// (names compared by UTF-16 code units after upper-casing; of two names equal after
// upper-casing, the uppercase one first), whatever the file system. Only links cost a query of
// their own. The listing is a snapshot taken when the call is made. Returns false, with
// `entries` empty, when the folder cannot be listed at all; an error partway ends the listing
// as its end does.
bool ListDirectory(const Folder& folder, std::vector<DirEntry>& entries);

// ---- Memory -----------------------------------------------------------------------------

// Gives the memory the program has freed back to the system, where the C library would keep it
// for its next allocations: between the phases of a run over many files, so that the memory one
// phase freed does not add to the next one's.
void ReleaseFreedMemory();

// ---- Files --------------------------------------------------------------------------------

// A regular file of a folder open for reading front to back, whose content must not change
// while it is read. It closes itself; it belongs to one thread at a time, and its folder must
// stay open as long as it does.
class InputFile {
 public:
  InputFile() = default;
  InputFile(InputFile&& other) noexcept;
  InputFile& operator=(InputFile&& other) noexcept;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();

  // What identifies a file's content as the system gives it; only ever compared.
  struct Stamp {
    std::uint64_t id = 0;
    std::uint64_t volume = 0;
    std::int64_t modified = 0;
    std::int64_t modifiedFraction = 0;
    std::int64_t changed = 0;
    std::int64_t changedFraction = 0;
    std::uint64_t links = 0;
    bool operator==(const Stamp&) const = default;
  };

  bool IsOpen() const { return m_Handle != kNotOpen; }
  std::uint64_t SizeAtOpen() const { return m_SizeAtOpen; }

  // Reads up to `size` bytes into `buffer`. Returns the number read, 0 at the end of the file,
  // or -1 when a read failed or the file changed while it was read: it grew past the size it
  // had when it was opened, or, once the reads end, what identifies its content (size,
  // modification and change time, file number, link count) is no longer what it was at the
  // open, or its name leads to another file. A read that comes up short ends the file only once
  // the reads have reached the size the file had when it was opened; then the end needs no call
  // of its own.
  std::int64_t Read(void* buffer, size_t size);

  // Opens the regular file `name` of `folder`; not open when it cannot be opened, and for a
  // folder, a pipe or a device (a pipe would wait for a writer forever). Then `missing`, when
  // given, tells whether there is no file of that name at all. On Windows the file is shared for
  // reading only: while it is open no program can write, rename or delete it, and a file that
  // another program holds open for writing does not open.
  static InputFile Open(const Folder& folder, const std::string& name, bool* missing = nullptr);

 private:
  static constexpr std::intptr_t kNotOpen = -1;
  static void Close(std::intptr_t handle);
  // One read of the system into `buffer`: the count, 0 at the end, -1 on an error.
  static std::int64_t ReadHandle(std::intptr_t handle, void* buffer, size_t size);
  // False when the file changed since it was opened (see Read).
  bool UnchangedSinceOpen() const;

  std::intptr_t m_Handle = kNotOpen;  // a descriptor, or a HANDLE on Windows
  std::intptr_t m_Folder = kNotOpen;  // POSIX: the folder's descriptor, to look the name up again
  std::string m_Name;                 // POSIX: the file's name in it, as the system spells it
  std::uint64_t m_SizeAtOpen = 0;
  std::uint64_t m_Offset = 0;
  bool m_AtEnd = false;
  Stamp m_Stamp;  // what identified the content when the file was opened
};

enum class ReadResult {
  kOk,
  kMissing,     // no file of that name
  kUnopenable,  // there is one, but it cannot be opened for reading (or is no regular file)
  kFailed,      // a read failed partway, or the file changed while it was read
};

// Reads the whole regular file `name` of `folder` through InputFile into `content`, which is
// left empty unless the result is kOk. The file is opened for reading only.
ReadResult ReadWholeFile(const Folder& folder, const std::string& name, std::string& content);

// Replaces the file `name` of `folder` with `content` atomically: the content goes to a
// temporary file in the same folder whose name begins with a dot, is flushed to disk and
// renamed over the old file, which keeps its permission bits (and, when root replaces another
// user's file, its owner and group). A link is followed, its target taken relative to the folder
// the link lies in, so the file it leads to is replaced and the link kept. Refused, as Windows
// refuses it, whoever runs the tool: a file without any write permission bit (read-only), a file
// this user may not write (POSIX: its permission bits and owner as the system applies them to
// the effective user and group), and anything but a regular file. A crash leaves the old or the
// new file, never a torn one. Returns false, leaving the old file as it was, on failure.
bool ReplaceFileAtomically(const Folder& folder, const std::string& name, std::string_view content);

// Makes room for `wanted` files held open at once, as far as the system allows, and returns how
// many the process may hold: the system's limit is raised towards `wanted` (never lowered), and
// the process's table of open files is grown to that size now, as the system grows it slowly
// once threads run (it waits for all of them each time the table doubles). Call it before
// starting threads. Windows has no such limit to speak of: there it returns `wanted`.
size_t ReserveOpenFiles(size_t wanted);

// ---- Console ------------------------------------------------------------------------------
// The texts are collected and written in large pieces, in the order they were given, with the
// same bytes as if each had been written at once. Redirected to a file, a pipe or the null
// device, they go out about 64 KiB at a time. To a terminal or a console window, where a person
// watches the run, whatever is pending goes out at least every 100 ms, also while the caller
// waits for something else (a thread of the console's own writes it). Only one thread at a time
// may call these functions.

// Adds `text`, bytes of code page 936, to standard output. Redirected, the bytes go out as they
// are (on Windows each LF as CR LF). A console window (Windows) gets the text through the wide
// console service, so it reads right whatever the console's code page; a terminal whose
// locale's character set is UTF-8 (POSIX) gets it in UTF-8. Returns false when a write failed.
bool WriteConsoleText(std::string_view text);

// Formats as printf does and adds the result with WriteConsoleText.
[[gnu::format(printf, 1, 2)]] bool PrintText(const char* format, ...);

// Writes everything pending. Returns false when it or any console write before failed. Text
// still pending when the process exits is written then.
bool FlushConsole();

// Waits for one key where standard input is a terminal or a console window: no Enter needed,
// and the key is not shown. The terminal's settings are put back afterwards, also when SIGINT,
// SIGTERM or SIGHUP ends the process during the wait. Redirected input gives one byte; at its end
// the wait returns at once.
void WaitForKey();

}  // namespace platform
