// Decimal numbers in texts: list cells, settings values, cache headers and
// numbers typed by the user all share one scanner; each caller keeps its own
// rule for what surrounds the number and how large it may be.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace norvane {

// A number at the start of a text: optional white space (with skipSpace:
// blank, tab, line feed, vertical tab, form feed, carriage return), an
// optional sign, then decimal digits.
struct DecimalPrefix {
  bool digits = false;          // at least one digit was found
  bool negative = false;
  std::uint64_t magnitude = 0;  // the digits' value, held at kDecimalCap when larger
  std::uint32_t low32 = 0;      // the digits' value modulo 2^32
  std::size_t end = 0;          // where the digits end (after the sign without digits)
};
inline constexpr std::uint64_t kDecimalCap = std::uint64_t{1} << 40;
DecimalPrefix ScanDecimal(std::string_view text, bool skipSpace);

// "%d" of a number.
std::string DecimalText(long long value);

// Reads a text the way "%d" does: leading white space, an optional sign,
// then decimal digits. No digits gives nullopt. Values beyond 32 bits are
// clamped to the nearest 32-bit value rather than left undefined.
std::optional<int> ReadDecimal(std::string_view text);

// A text that is a whole number and nothing else: an optional sign and
// digits, within 32 bits. Anything else is no integer.
std::optional<int> ParseWholeInteger(std::string_view text);

}  // namespace norvane
