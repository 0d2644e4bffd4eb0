// The formatting of console texts and the outcome of the run's console writes, the same on
// every system; each platform file writes the bytes.
#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "platform/portable.h"

namespace platform {

namespace {

std::atomic<bool> g_ConsoleWriteFailed{false};

}  // namespace

bool PrintText(const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  std::va_list again;
  va_copy(again, arguments);
  int length = std::vsnprintf(nullptr, 0, format, arguments);
  va_end(arguments);
  std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);
  bool written = length >= 0 && WriteConsoleText(text);
  if (!written) g_ConsoleWriteFailed = true;
  return written;
}

bool FlushConsole() {
  bool flushed = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
  return flushed && !g_ConsoleWriteFailed;
}

}  // namespace platform
