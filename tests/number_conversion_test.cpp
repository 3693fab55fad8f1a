// Decimal text to double: the accepted grammar, correct rounding and the range limits.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

#include "text/number_conversion.h"

using namespace empricer;

namespace {

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

TEST(NumberConversion, GrammarOfTheAcceptedPrefix) {
  struct Case {
    const char* text;
    double expected;
  };
  const Case cases[] = {
      {"1.5e2", 150.0},  {"1.5E2", 150.0},   {"1.5d2", 150.0},  {"1.5D-2", 0.015},
      {"-2.5d+1", -25.0}, {"2e", 2.0},       {"2e+", 2.0},      {"2d-x", 2.0},
      {"2ex5", 2.0},     {"2.e1", 20.0},     {".5", 0.5},       {"+.5e1", 5.0},
      {"5.", 5.0},       {"1.2.3", 1.2},     {"1,5", 1.0},      {"1 000", 1.0},
      {"12abc", 12.0},   {"0x10", 0.0},      {"0X1p3", 0.0},    {"1e5inf", 1e5},
      {"inf", 0.0},      {"-infinity", 0.0}, {"nan", 0.0},      {"NAN(1)", 0.0},
      {"", 0.0},         {".", 0.0},         {"+", 0.0},        {"-.e5", 0.0},
      {"--1", 0.0},      {"+-1", 0.0},       {"e5", 0.0},       {"d5", 0.0},
      {" \t\n\v\f\r12", 12.0}, {"\x1c" "12", 0.0}, {"\xa0" "12", 0.0},
      {"1e0000000000000000000000000000005", 1e5},
      {"0.1000000000000000055511151231257827021181583404541015625", 0.1},
  };
  for (const auto& c : cases) {
    const double got = convertNumber(c.text);
    EXPECT_EQ(bits(got), bits(c.expected)) << '"' << c.text << "\" gave " << got;
  }
  EXPECT_EQ(numberPrefixLength("2e+,7"), 1u);
  EXPECT_EQ(numberPrefixLength("  -1.5d3x"), 6u);
  EXPECT_EQ(numberPrefixLength("x1"), 0u);
}

TEST(NumberConversion, RoundsToNearestAndHandlesTheRangeEnds) {
  EXPECT_EQ(convertNumber("9007199254740993"), 9007199254740992.0);  // tie, to even
  EXPECT_EQ(convertNumber("9007199254740993.00000000000000000001"), 9007199254740994.0);
  EXPECT_EQ(convertNumber("9007199254740995"), 9007199254740996.0);
  // A mantissa of 400 digits.
  EXPECT_EQ(convertNumber(std::string("1").append(399, '0').append("e-398").c_str()), 10.0);

  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(convertNumber("1e309"), inf);
  EXPECT_EQ(convertNumber("-1d400"), -inf);
  EXPECT_EQ(convertNumber("1e99999999999999999999"), inf);
  EXPECT_EQ(convertNumber("1.7976931348623157e308"), std::numeric_limits<double>::max());
  EXPECT_EQ(convertNumber("0e99999999999"), 0.0);
  EXPECT_EQ(convertNumber("1e-400"), 0.0);
  EXPECT_TRUE(std::signbit(convertNumber("-1e-400")));

  const double tiny = std::numeric_limits<double>::denorm_min();
  EXPECT_EQ(convertNumber("4.9406564584124654e-324"), tiny);
  // Half of the smallest subnormal is 2.47032822920623272088...e-324.
  EXPECT_EQ(convertNumber("2.4703282292062328e-324"), tiny);
  EXPECT_EQ(convertNumber("2.4703282292062327e-324"), 0.0);
  EXPECT_EQ(convertNumber("2.225073858507201e-308"),
            std::numeric_limits<double>::min() - tiny);  // the largest subnormal
}

// Random well-formed decimal texts, with white space before and other text after, read as the
// C library's strtod reads them; the d form of the exponent reads as the e form.
TEST(NumberConversion, AgreesWithStrtodOnRandomDecimalText) {
  std::mt19937_64 rng(20240611);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<std::uint64_t>(n)); };
  const char* const spaces[] = {"", " ", "\t", "  \n", "\r\v\f"};
  const char* const tails[] = {"", "x", ",3", " 5", "e", "e+", "E-", ".", "abc"};
  for (int i = 0; i < 200000; ++i) {
    std::string number;
    const int sign = pick(3);
    if (sign == 1) number += '+';
    if (sign == 2) number += '-';
    const int intDigits = pick(4) == 0 ? 0 : pick(21);
    for (int k = 0; k < intDigits; ++k) number += static_cast<char>('0' + pick(10));
    const bool point = pick(2) == 1 || intDigits == 0;
    int fracDigits = 0;
    if (point) {
      number += '.';
      fracDigits = pick(21);
      if (intDigits == 0 && fracDigits == 0) fracDigits = 1;
      for (int k = 0; k < fracDigits; ++k) number += static_cast<char>('0' + pick(10));
    }
    std::size_t letterAt = std::string::npos;
    if (pick(2) == 1) {
      letterAt = number.size();
      number += pick(2) ? 'e' : 'E';
      const int expSign = pick(3);
      if (expSign == 1) number += '+';
      if (expSign == 2) number += '-';
      const int expDigits = 1 + pick(3);
      for (int k = 0; k < expDigits; ++k) number += static_cast<char>('0' + pick(10));
    }
    const std::string lead = spaces[pick(5)];
    const std::string text = lead + number + tails[pick(9)];

    char* end = nullptr;
    const double expected = std::strtod(text.c_str(), &end);
    ASSERT_EQ(bits(convertNumber(text.c_str())), bits(expected)) << '"' << text << '"';
    ASSERT_EQ(numberPrefixLength(text.c_str()),
              static_cast<std::size_t>(end - text.c_str()) - lead.size())
        << '"' << text << '"';
    if (letterAt != std::string::npos) {
      std::string dForm = text;
      dForm[lead.size() + letterAt] = pick(2) ? 'd' : 'D';
      ASSERT_EQ(bits(convertNumber(dForm.c_str())), bits(expected)) << '"' << dForm << '"';
    }
  }
}

}  // namespace
