// The grid statistics of a FileRecord held exactly in fewer bytes than its
// 96 doubles: a large search holds a million of them at once.
//
// A double is its top byte (the sign and the high bits of the exponent) and
// 56 low bits. The grid values of pictures lie between about 2^-31 and 2^17
// in magnitude or are 0, and for those the top byte is one of a few: each
// value is held as its 56 low bits (7 bytes) and a 3-bit class that names
// its top byte. A value with any other top byte (a grey picture's colour
// means of about 1e-14, a cache file's infinity or NaN) has the escape
// class, and its top byte is kept, in order, in a block of its own. Every
// bit pattern thus comes back unchanged, a NaN's payload and the sign of a
// zero included.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "signature/Signature.h"

namespace norvane {

namespace packed_grid {
// The top bytes classes 0 to 6 stand for, in place: +0 and the positive
// values below 2^-1008 (class 0, so that zero bytes are a grid of zeros),
// then the magnitudes [2^-31, 2^-15), [2^-15, 2) and [2, 2^17), positive
// and negative. Class 7 is the escape, here as 0.
inline constexpr std::uint64_t kTopBits[8] = {
    std::uint64_t{0x00} << 56, std::uint64_t{0x3E} << 56, std::uint64_t{0x3F} << 56,
    std::uint64_t{0x40} << 56, std::uint64_t{0xBE} << 56, std::uint64_t{0xBF} << 56,
    std::uint64_t{0xC0} << 56, 0};
inline constexpr unsigned kEscape = 7;
inline constexpr std::uint64_t kLowBits = (std::uint64_t{1} << 56) - 1;
}  // namespace packed_grid

class PackedGrid {
 public:
  static constexpr int kValues = kGridCells * 6;  // cell by cell, in SignatureCell's order

  PackedGrid() = default;  // every value +0
  PackedGrid(const SignatureGrid& grid) { assign(grid); }  // NOLINT: assigns like a grid
  PackedGrid(const PackedGrid& other) { *this = other; }
  PackedGrid(PackedGrid&& other) noexcept { std::swap(raw_, other.raw_); }
  PackedGrid& operator=(const PackedGrid& other);
  PackedGrid& operator=(PackedGrid&& other) noexcept {
    std::swap(raw_, other.raw_);
    return *this;
  }
  PackedGrid& operator=(const SignatureGrid& grid) {
    assign(grid);
    return *this;
  }
  ~PackedGrid();

  void assign(const SignatureGrid& grid);
  void Unpack(SignatureGrid& grid) const;
  SignatureGrid unpacked() const {
    SignatureGrid grid;
    Unpack(grid);
    return grid;
  }

  // Changes values through `edit`, which is handed the unpacked grid.
  template <typename Edit>
  void Modify(Edit&& edit) {
    SignatureGrid grid = unpacked();
    edit(grid);
    assign(grid);
  }

  // Whether a value's top byte is kept apart.
  bool hasEscapes() const { return Escapes() != nullptr; }
  // The values of cell c (0 to 15), read without unpacking the others: a
  // comparison may stop after a few cells.
  void UnpackCell(int c, SignatureCell& cell) const {
    // The 18 class bits of the cell lie within the four bytes from the one
    // holding the first; the last cell's fourth byte is the first of the
    // escape address, still inside raw_.
    const std::size_t bit = 18 * static_cast<std::size_t>(c);
    std::uint32_t classes = 0;
    std::memcpy(&classes, raw_ + kPayloadBytes + bit / 8, sizeof classes);
    classes >>= bit % 8;
    double* values = &cell.meanY;
    for (int k = 0; k < 6; ++k) values[k] = Decode(6 * c + k, (classes >> (3 * k)) & 7);
    if (Escapes() != nullptr) PutEscapes(6 * c, 6, values);
  }

  // Asks the processor to fetch the grid's bytes ahead of an Unpack.
  void Prefetch() const {
    for (std::size_t at = 0; at < sizeof raw_; at += 64) __builtin_prefetch(raw_ + at);
    __builtin_prefetch(raw_ + sizeof raw_ - 1);
  }

  // Equal when every value has the same bits (so a NaN equals itself and
  // +0 differs from -0), as the bytes of a cache file compare.
  friend bool operator==(const PackedGrid& a, const PackedGrid& b);

 private:
  static constexpr std::size_t kPayloadBytes = 7 * kValues;
  static constexpr std::size_t kClassBytes = (3 * kValues + 7) / 8;
  static constexpr std::size_t kEscapeAt = kPayloadBytes + kClassBytes;
  char* Escapes() const {
    char* block = nullptr;
    std::memcpy(&block, raw_ + kEscapeAt, sizeof block);
    return block;
  }
  void SetEscapes(char* block) { std::memcpy(raw_ + kEscapeAt, &block, sizeof block); }
  // Value i of class c, an escaped one still without its top byte. The
  // eight bytes from the value's first: the last value's eighth byte is the
  // first class byte, still inside raw_, and masked off.
  double Decode(int i, unsigned c) const {
    std::uint64_t low = 0;
    std::memcpy(&low, raw_ + 7 * static_cast<std::size_t>(i), sizeof low);
    return std::bit_cast<double>((low & packed_grid::kLowBits) | packed_grid::kTopBits[c]);
  }
  // Puts the kept top bytes into the escaped ones of the `count` decoded
  // values from value `first` on.
  void PutEscapes(int first, int count, double* values) const;

  // The low bytes of every value, then the classes, then the address of the
  // block of escaped top bytes (null when there is none). Kept as bytes so
  // that a record pads nothing around them.
  unsigned char raw_[kEscapeAt + sizeof(char*)] = {};
};
static_assert(sizeof(PackedGrid) == 7 * 96 + 36 + 8);

}  // namespace norvane
