#include "base/Decimal.h"

#include <gtest/gtest.h>

#include <tuple>

namespace norvane {
namespace {

// One scanner serves list cells ("%d" reads), typed numbers (whole texts),
// settings values (32-bit wrap) and the cache header: each row pins what one
// rule makes of a text.
TEST(DecimalTest, EachRuleReadsTheSameScan) {
  // The text; what ReadDecimal and ParseWholeInteger make of it; the low 32
  // bits of ScanDecimal without skipping space, sign applied.
  const std::tuple<std::string, std::optional<int>, std::optional<int>, std::uint32_t> cases[] = {
      {"42", 42, 42, 42u}, {" \t\r\n-7x", -7, std::nullopt, 0u}, {"+5", 5, 5, 5u},
      {"-", std::nullopt, std::nullopt, 0u}, {"12 ", 12, std::nullopt, 12u},
      {"2147483647", 2147483647, 2147483647, 2147483647u}, {"-2147483648", -2147483647 - 1, -2147483647 - 1, 2147483648u},
      {"2147483648", 2147483647, std::nullopt, 2147483648u}, {"18446744073709551617", 2147483647, std::nullopt, 1u},
      {"-99999999999999999999", -2147483647 - 1, std::nullopt, 0u - 1661992959u},
  };
  for (const auto& [text, read, whole, low32] : cases) {
    const DecimalPrefix number = ScanDecimal(text, false);
    EXPECT_EQ(std::tuple(ReadDecimal(text), ParseWholeInteger(text), number.negative ? 0u - number.low32 : number.low32),
              std::tuple(read, whole, low32))
        << text;
  }
}

}  // namespace
}  // namespace norvane
