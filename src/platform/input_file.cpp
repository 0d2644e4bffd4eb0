// What both systems share of reading files: the ownership of an InputFile's handle and reading a
// whole file through it.
#include <utility>

#include "platform/portable.h"

namespace platform {

InputFile::InputFile(InputFile&& other) noexcept { *this = std::move(other); }

InputFile& InputFile::operator=(InputFile&& other) noexcept {
  if (this != &other) {
    if (IsOpen()) Close(m_Handle);
    m_Handle = std::exchange(other.m_Handle, kNotOpen);
    m_SizeAtOpen = other.m_SizeAtOpen;
    m_Offset = other.m_Offset;
    m_AtEnd = other.m_AtEnd;
  }
  return *this;
}

InputFile::~InputFile() {
  if (IsOpen()) Close(m_Handle);
}

ReadResult ReadWholeFile(const std::string& path, std::string& content) {
  content.clear();
  bool missing = false;
  InputFile file = InputFile::Open(path, &missing);
  if (!file.IsOpen()) return missing ? ReadResult::kMissing : ReadResult::kUnopenable;
  content.reserve(static_cast<size_t>(file.SizeAtOpen()));
  char buffer[64 * 1024];
  for (;;) {
    std::int64_t got = file.Read(buffer, sizeof buffer);
    if (got < 0) {
      content.clear();
      return ReadResult::kFailed;
    }
    if (got == 0) return ReadResult::kOk;
    content.append(buffer, static_cast<size_t>(got));
  }
}

}  // namespace platform
