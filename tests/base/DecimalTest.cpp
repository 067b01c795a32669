#include "base/Decimal.h"

#include <gtest/gtest.h>

#include <tuple>

namespace norvane {
namespace {

// One scanner serves list cells ("%d" reads), typed numbers (whole texts),
// settings values (32-bit wrap) and the cache header: each row pins what one
// rule makes of a text.
TEST(DecimalTest, EachRuleReadsTheSameScan) {
  const struct {
    std::string text;
    std::optional<int> read;   // ReadDecimal
    std::optional<int> whole;  // ParseWholeInteger
    std::uint32_t low32;       // ScanDecimal without skipping space, sign applied
  } cases[] = {
      {"42", 42, 42, 42u}, {" \t\r\n-7x", -7, std::nullopt, 0u}, {"+5", 5, 5, 5u},
      {"-", std::nullopt, std::nullopt, 0u}, {"12 ", 12, std::nullopt, 12u},
      {"2147483647", 2147483647, 2147483647, 2147483647u},
      {"-2147483648", -2147483647 - 1, -2147483647 - 1, 2147483648u},
      {"2147483648", 2147483647, std::nullopt, 2147483648u},
      {"-99999999999999999999", -2147483647 - 1, std::nullopt, 0u - 1661992959u},
      {"18446744073709551617", 2147483647, std::nullopt, 1u},
  };
  for (const auto& c : cases) {
    const DecimalPrefix number = ScanDecimal(c.text, false);
    EXPECT_EQ(std::tuple(ReadDecimal(c.text), ParseWholeInteger(c.text), number.negative ? 0u - number.low32 : number.low32),
              std::tuple(c.read, c.whole, c.low32))
        << c.text;
  }
}

}  // namespace
}  // namespace norvane
