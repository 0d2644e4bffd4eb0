// MD5 reads and writes its 32-bit words least significant byte first. Only files built for the
// baseline processor include this (md5.cpp, md5_portable.cpp), so one inline copy serves both.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

// The word stored least significant byte first at `bytes`, at any alignment and on any host.
inline std::uint32_t LoadLittleEndian32(const unsigned char* bytes) {
  if constexpr (std::endian::native == std::endian::little) {
    std::uint32_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
  } else {
    return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
           std::uint32_t{bytes[3]} << 24;
  }
}

inline void StoreLittleEndian32(std::uint32_t word, unsigned char* bytes) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(word >> (8 * i));
}
