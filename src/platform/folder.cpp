// What both systems share of an open folder: the ownership of its handle.
#include <utility>

#include "platform/portable.h"

namespace platform {

Folder::Folder(Folder&& other) noexcept { *this = std::move(other); }

Folder& Folder::operator=(Folder&& other) noexcept {
  if (this != &other) {
    if (IsOpen()) Close(m_Handle);
    m_Handle = std::exchange(other.m_Handle, kNotOpen);
    m_Path = std::move(other.m_Path);
    m_WidePrefix = std::move(other.m_WidePrefix);
  }
  return *this;
}

Folder::~Folder() {
  if (IsOpen()) Close(m_Handle);
}

}  // namespace platform
