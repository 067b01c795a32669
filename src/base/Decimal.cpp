#include "base/Decimal.h"

#include <climits>

namespace norvane {
namespace {

constexpr bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The magnitude with its sign, within 32 bits: held values clamp.
std::int64_t Signed(const DecimalPrefix& number) {
  const auto value = static_cast<std::int64_t>(number.magnitude);
  return number.negative ? -value : value;
}

}  // namespace

DecimalPrefix ScanDecimal(std::string_view text, bool skipSpace) {
  DecimalPrefix number;
  std::size_t i = 0;
  if (skipSpace) {
    while (i < text.size() && IsSpace(text[i])) ++i;
  }
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    number.negative = text[i] == '-';
    ++i;
  }
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const auto digit = static_cast<unsigned>(text[i] - '0');
    number.digits = true;
    number.magnitude = number.magnitude * 10 + digit;
    if (number.magnitude > kDecimalCap) number.magnitude = kDecimalCap;
    number.low32 = number.low32 * 10u + digit;
  }
  number.end = i;
  return number;
}

std::string DecimalText(long long value) { return std::to_string(value); }

std::optional<int> ReadDecimal(std::string_view text) {
  const DecimalPrefix number = ScanDecimal(text, true);
  if (!number.digits) return std::nullopt;
  const std::int64_t value = Signed(number);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

std::optional<int> ParseWholeInteger(std::string_view text) {
  const DecimalPrefix number = ScanDecimal(text, false);
  if (!number.digits || number.end != text.size()) return std::nullopt;
  const std::int64_t value = Signed(number);
  if (value > INT_MAX || value < INT_MIN) return std::nullopt;
  return static_cast<int>(value);
}

}  // namespace norvane
