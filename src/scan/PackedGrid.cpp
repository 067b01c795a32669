#include "scan/PackedGrid.h"

#include <bit>
#include <cstring>
#include <string_view>

#include "scan/RecordText.h"

namespace norvane {

namespace {

using packed_grid::kEscape;
using packed_grid::kLowBits;
using packed_grid::kTopBits;

// The class of every top byte, looked up rather than searched for: a warm
// search packs every grid of its cache files.
struct TopClasses {
  unsigned char of[256] = {};
};
constexpr TopClasses MakeTopClasses() {
  TopClasses table;
  for (unsigned top = 0; top < 256; ++top) {
    table.of[top] = static_cast<unsigned char>(kEscape);
    for (unsigned c = 0; c < kEscape; ++c) {
      if (kTopBits[c] >> 56 == top) {
        table.of[top] = static_cast<unsigned char>(c);
        break;
      }
    }
  }
  return table;
}
constexpr TopClasses kTopClasses = MakeTopClasses();

unsigned ClassOfTop(unsigned top) { return kTopClasses.of[top]; }

static_assert(std::endian::native == std::endian::little, "the low bytes of a value are its first");

// The values of a grid in their packed order.
double* ValuesOf(SignatureGrid& grid) { return &grid[0].meanY; }
const double* ValuesOf(const SignatureGrid& grid) { return &grid[0].meanY; }
static_assert(sizeof(SignatureGrid) == PackedGrid::kValues * sizeof(double));

// The classes of values 8 x group to 8 x group + 7, three bits each, from
// the class bytes.
std::uint32_t GroupClasses(const unsigned char* classes, int group) {
  const unsigned char* at = classes + 3 * static_cast<std::size_t>(group);
  return at[0] | (std::uint32_t{at[1]} << 8) | (std::uint32_t{at[2]} << 16);
}

}  // namespace

PackedGrid& PackedGrid::operator=(const PackedGrid& other) {
  if (this == &other) return *this;
  char* const old = Escapes();
  std::memcpy(raw_, other.raw_, kEscapeAt);
  const char* escapes = other.Escapes();
  SetEscapes(escapes == nullptr ? nullptr : text_block::Make(text_block::Text(escapes), 0));
  text_block::Free(old);
  return *this;
}

PackedGrid::~PackedGrid() { text_block::Free(Escapes()); }

void PackedGrid::assign(const SignatureGrid& grid) {
  const double* values = ValuesOf(grid);
  char escaped[kValues];
  std::size_t escapes = 0;
  // Eight values at a time: their classes fill three bytes.
  for (int group = 0; group < kValues / 8; ++group) {
    std::uint32_t classes = 0;
    for (int k = 0; k < 8; ++k) {
      const int i = group * 8 + k;
      const auto bits = std::bit_cast<std::uint64_t>(values[i]);
      const unsigned top = static_cast<unsigned>(bits >> 56);
      const unsigned c = ClassOfTop(top);
      if (c == kEscape) escaped[escapes++] = static_cast<char>(top);
      classes |= std::uint32_t{c} << (3 * k);
      const std::uint64_t low = bits & kLowBits;
      std::memcpy(raw_ + 7 * static_cast<std::size_t>(i), &low, 7);  // little-endian: the low 7 bytes
    }
    unsigned char* at = raw_ + kPayloadBytes + 3 * static_cast<std::size_t>(group);
    at[0] = static_cast<unsigned char>(classes);
    at[1] = static_cast<unsigned char>(classes >> 8);
    at[2] = static_cast<unsigned char>(classes >> 16);
  }
  char* const old = Escapes();
  SetEscapes(escapes == 0 ? nullptr : text_block::Make(std::string_view(escaped, escapes), 0));
  text_block::Free(old);
}

void PackedGrid::Unpack(SignatureGrid& grid) const {
  // Every line of the grid is asked for at once: the loop below would
  // otherwise wait for them one after another.
  Prefetch();
  double* values = ValuesOf(grid);
  for (int group = 0; group < kValues / 8; ++group) {
    const std::uint32_t classes = GroupClasses(raw_ + kPayloadBytes, group);
    for (int k = 0; k < 8; ++k) values[group * 8 + k] = Decode(group * 8 + k, (classes >> (3 * k)) & 7);
  }
  if (Escapes() != nullptr) PutEscapes(0, kValues, values);
}

void PackedGrid::PutEscapes(int first, int count, double* values) const {
  // The escaped values before `first` tell where its top bytes begin.
  const char* next = text_block::Text(Escapes()).data();
  for (int i = 0; i < first + count; ++i) {
    if (((GroupClasses(raw_ + kPayloadBytes, i / 8) >> (3 * (i % 8))) & 7) != kEscape) continue;
    const auto top = static_cast<unsigned char>(*next++);
    if (i < first) continue;
    double& value = values[i - first];
    value = std::bit_cast<double>(std::bit_cast<std::uint64_t>(value) | std::uint64_t{top} << 56);
  }
}

bool operator==(const PackedGrid& a, const PackedGrid& b) {
  // Packing is a function of the bits, so equal grids have equal bytes.
  if (std::memcmp(a.raw_, b.raw_, PackedGrid::kEscapeAt) != 0) return false;
  const char *x = a.Escapes(), *y = b.Escapes();
  if (x == nullptr || y == nullptr) return x == y;
  return text_block::Text(x) == text_block::Text(y);
}

}  // namespace norvane
