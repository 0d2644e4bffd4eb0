// The console's pending text, the same on every system: texts are formatted into it and written
// in large pieces; each platform file tells what standard output is and writes the bytes.
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <thread>

#include "platform/portable.h"

namespace platform {

namespace {

// Redirected output is written once this much is pending: few calls, little memory.
constexpr size_t kRedirectedPiece = 64 * 1024;
// Where a person watches, what is pending goes out at least this often.
constexpr auto kWatchedInterval = std::chrono::milliseconds(100);

// The text of the run not yet written. Its lock is held while the bytes are written, so that
// the watched console's thread and the caller never write at once or out of order.
class PendingConsole {
 public:
  PendingConsole() : m_Watched(ConsoleIsWatched()) {}
  PendingConsole(const PendingConsole&) = delete;
  PendingConsole& operator=(const PendingConsole&) = delete;
  // Text pending at exit is written then: no way out of the process drops it.
  ~PendingConsole() { Flush(); }

  bool Add(std::string_view text) {
    std::unique_lock held(m_Lock);
    AppendConsoleForm(text, m_Pending);
    if (m_Watched && !m_Writer.joinable() && !m_Stopping) {
      m_Writer = std::thread([this] { WriteWhileWatched(); });
    }
    if (m_Pending.size() >= kRedirectedPiece) WritePending();
    return !m_Failed;
  }

  // A text that could not even be formatted counts as a failed write.
  bool Fail() {
    std::unique_lock held(m_Lock);
    m_Failed = true;
    return false;
  }

  bool Flush() {
    std::unique_lock held(m_Lock);
    m_Stopping = true;
    if (m_Writer.joinable()) {
      m_Wake.notify_one();
      held.unlock();
      m_Writer.join();
      held.lock();
    }
    WritePending();
    return !m_Failed;
  }

 private:
  // Called with the lock held. What cannot be written is dropped; the failure is kept.
  void WritePending() {
    if (m_Pending.empty()) return;
    if (!WriteConsoleBytes(m_Pending)) m_Failed = true;
    m_Pending.clear();
  }

  void WriteWhileWatched() {
    std::unique_lock held(m_Lock);
    while (!m_Stopping) {
      m_Wake.wait_for(held, kWatchedInterval, [this] { return m_Stopping; });
      WritePending();
    }
  }

  const bool m_Watched;
  std::mutex m_Lock;
  std::condition_variable m_Wake;
  std::string m_Pending;
  bool m_Failed = false;
  bool m_Stopping = false;
  std::thread m_Writer;
};

PendingConsole& Pending() {
  static PendingConsole pending;
  return pending;
}

}  // namespace

bool WriteConsoleText(std::string_view text) { return Pending().Add(text); }

bool PrintText(const char* format, ...) {
  // Formatted into one buffer that every call reuses: no allocation per text.
  static std::string formatted(1024, '\0');
  std::va_list arguments;
  va_start(arguments, format);
  std::va_list again;
  va_copy(again, arguments);
  int length = std::vsnprintf(formatted.data(), formatted.size() + 1, format, arguments);
  va_end(arguments);
  if (length >= 0 && static_cast<size_t>(length) > formatted.size()) {
    formatted.resize(static_cast<size_t>(length));
    std::vsnprintf(formatted.data(), formatted.size() + 1, format, again);
  }
  va_end(again);
  if (length < 0) return Pending().Fail();
  return Pending().Add(std::string_view(formatted.data(), static_cast<size_t>(length)));
}

bool FlushConsole() { return Pending().Flush(); }

}  // namespace platform
