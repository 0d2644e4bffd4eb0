// What both systems share of reading files: the ownership of an InputFile's handle, the rule
// that tells the end of a file that did not change while it was read, and reading a whole file.
#include <utility>

#include "platform/portable.h"

namespace platform {

InputFile::InputFile(InputFile&& other) noexcept { *this = std::move(other); }

InputFile& InputFile::operator=(InputFile&& other) noexcept {
  if (this != &other) {
    if (IsOpen()) Close(m_Handle);
    m_Handle = std::exchange(other.m_Handle, kNotOpen);
    m_Folder = other.m_Folder;
    m_Name = std::move(other.m_Name);
    m_SizeAtOpen = other.m_SizeAtOpen;
    m_Offset = other.m_Offset;
    m_AtEnd = other.m_AtEnd;
    m_Stamp = other.m_Stamp;
  }
  return *this;
}

InputFile::~InputFile() {
  if (IsOpen()) Close(m_Handle);
}

std::int64_t InputFile::Read(void* buffer, size_t size) {
  if (m_AtEnd || size == 0) return 0;
  std::int64_t got = ReadHandle(m_Handle, buffer, size);
  if (got < 0) return -1;
  m_Offset += static_cast<std::uint64_t>(got);
  // Bytes past the size at open were written while the file was read.
  bool grew = m_Offset > m_SizeAtOpen;
  if (grew || got == 0 || (static_cast<size_t>(got) < size && m_Offset >= m_SizeAtOpen)) {
    m_AtEnd = true;
    // A file cut short ends before its size at open; one rewritten in place or replaced shows
    // it only in what identifies its content.
    if (grew || m_Offset != m_SizeAtOpen || !UnchangedSinceOpen()) return -1;
  }
  return got;
}

ReadResult ReadWholeFile(const Folder& folder, const std::string& name, std::string& content) {
  content.clear();
  bool missing = false;
  InputFile file = InputFile::Open(folder, name, &missing);
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
