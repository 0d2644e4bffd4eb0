// The thin layer over the operating system. Every OS call of the tool sits behind this header;
// platform_posix.cpp and platform_windows.cpp implement it, and CMake builds one of them.
//
// All text crossing this header is a narrow byte string in code page 936 (GBK), the ANSI code
// page of a Chinese Windows, which "ANSI" means below. Each build converts names and paths to and
// from it itself: the Windows build from the UTF-16 of the wide services, whatever the system's
// own code page, the POSIX build from the UTF-8 names of the file system. So both builds see a
// folder as a Chinese Windows does and write the same bytes for it.
//
// Threads: every function here may run on several threads at once. The layer keeps no mutable
// state that threads share: a converter with conversion state (iconv) belongs to one thread,
// and the only other process-wide objects are set up once and then only read. A stream it
// returns belongs to one thread at a time. Paths are absolute or relative to the current folder,
// which the tool never changes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// ---- Process ------------------------------------------------------------------------------

// The character between a folder and a name in the paths this platform gives ('\\' on Windows,
// '/' elsewhere).
extern const char kPathSeparator;

// Full path of the running executable. Returns false, with `path` cleared, when the path cannot
// be had whole and exactly in the ANSI code page (the query failed, the path would be cut, or a
// character of it has no exact ANSI form).
bool GetExecutablePath(std::string& path);

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

// ---- Folder listing -----------------------------------------------------------------------

// What tells files apart whatever path leads to them (links, hard links, letter case): the
// device and file number, or the volume serial number and file index on Windows.
struct FileId {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  bool operator==(const FileId&) const = default;
};

struct DirEntry {
  std::string name;          // ANSI; a character without an exact ANSI form is shown as '?'
  bool nameExact = true;     // false when `name` is not the entry's real name
  bool isDirectory = false;  // a folder, or a link that leads to one
  // The entry's identity where the listing tells it (a regular file on POSIX systems), so
  // that GetFileId need not ask for it.
  std::optional<FileId> id;
};

// Lists the entries of `directory` (a path ending in a separator, or empty for the current
// folder): ".", "..", then every entry in the order NTFS gives them (names compared by UTF-16
// code units after upper-casing; of two names equal after upper-casing, the uppercase one
// first), whatever the file system. The listing is a snapshot taken when the call is made.
// Returns false, with `entries` empty, when the folder cannot be listed at all; an error partway
// ends the listing as its end does.
bool ListDirectory(const std::string& directory, std::vector<DirEntry>& entries);

// ---- Files --------------------------------------------------------------------------------

// The identity of the file at `path`. Returns false when there is no file there (a dangling link
// included) or its volume gives files no identity.
bool GetFileId(const std::string& path, FileId& id);

// A regular file open for reading front to back. It closes itself; it belongs to one thread at
// a time.
class InputFile {
 public:
  InputFile() = default;
  InputFile(InputFile&& other) noexcept;
  InputFile& operator=(InputFile&& other) noexcept;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();

  bool IsOpen() const { return m_Handle != kNotOpen; }
  std::uint64_t SizeAtOpen() const { return m_SizeAtOpen; }

  // Reads up to `size` bytes into `buffer`. Returns the number read, 0 at the end of the file,
  // or -1 when a read failed. A read that comes up short ends the file only once the reads have
  // reached the size the file had when it was opened; then the end needs no call of its own.
  std::int64_t Read(void* buffer, size_t size);

  // Opens a regular file; not open when it cannot be opened, and for a folder, a pipe or a
  // device (a pipe would wait for a writer forever). Then `missing`, when given, tells whether
  // there is no file of that name at all.
  static InputFile Open(const std::string& path, bool* missing = nullptr);

 private:
  static constexpr std::intptr_t kNotOpen = -1;
  static void Close(std::intptr_t handle);
  std::intptr_t m_Handle = kNotOpen;  // a descriptor, or a HANDLE on Windows
  std::uint64_t m_SizeAtOpen = 0;
  std::uint64_t m_Offset = 0;
  bool m_AtEnd = false;
};

enum class ReadResult {
  kOk,
  kMissing,     // no file of that name
  kUnopenable,  // there is one, but it cannot be opened for reading (or is no regular file)
  kFailed,      // a read failed partway
};

// Reads a whole regular file through InputFile into `content`, which is left empty unless the
// result is kOk. The file is opened for reading only.
ReadResult ReadWholeFile(const std::string& path, std::string& content);

// Replaces the file at `path` with `content` atomically: the content goes to a temporary file in
// the same folder whose name begins with a dot, is flushed to disk and renamed over the old
// file, which keeps its permission bits. A link is followed, so the file it leads to is replaced.
// A file without any write permission bit counts as read-only and is refused, as Windows refuses
// it, whoever runs the tool; so is anything but a regular file. A crash leaves the old or the new
// file, never a torn one. Returns false, leaving the old file as it was, on failure.
bool ReplaceFileAtomically(const std::string& path, std::string_view content);

// ---- Console ------------------------------------------------------------------------------
// Only one thread at a time may write to the console.

// Writes `text`, bytes of code page 936, to standard output. Redirected to a file or a pipe,
// the bytes go out as they are (on Windows each LF as CR LF). A console window (Windows) gets
// the text through the wide console service, so it reads right whatever the console's code
// page; a terminal whose locale's character set is UTF-8 (POSIX) gets it in UTF-8. Returns
// false when the write failed.
bool WriteConsoleText(std::string_view text);

// Formats as printf does and writes the result with WriteConsoleText.
[[gnu::format(printf, 1, 2)]] bool PrintText(const char* format, ...);

// Flushes standard output. Returns false when it or any console write before failed.
bool FlushConsole();

}  // namespace platform
