// Little-endian numbers in byte buffers: the headers of image files and the
// records of the cache file.
#pragma once

#include <bit>
#include <cstdint>

namespace norvane {

inline std::uint16_t GetLe16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

inline std::uint32_t GetLe32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

inline std::int32_t GetLeI32(const std::uint8_t* p) { return static_cast<std::int32_t>(GetLe32(p)); }

inline void PutLe32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

// An IEEE double stored as its 8 bytes, least significant first.
inline double GetLeDouble(const std::uint8_t* p) {
  std::uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = (bits << 8) | p[i];
  return std::bit_cast<double>(bits);
}

inline void PutLeDouble(std::uint8_t* p, double value) {
  std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
  for (int i = 0; i < 8; ++i, bits >>= 8) p[i] = static_cast<std::uint8_t>(bits);
}

}  // namespace norvane
