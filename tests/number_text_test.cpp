// Number text: doubles in the %.6g form with an exponent of at least three digits, integers in
// plain decimal.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

#include "text/number_text.h"

using namespace empricer;

namespace {

TEST(NumberText, TableOfExamples) {
  const std::pair<double, const char*> cases[] = {
      {0.5, "0.5"},           {100.0, "100"},         {123456.0, "123456"},
      {1234567.0, "1.23457e+006"}, {999999.5, "1e+006"}, {0.0001, "0.0001"},
      {0.00001, "1e-005"},    {1.0 / 3.0, "0.333333"}, {-2.5, "-2.5"},
      {0.0, "0"},             {-0.0, "-0"},           {1e100, "1e+100"},
      {-1.5e-300, "-1.5e-300"}, {999999.0, "999999"}, {0.00012345678, "0.000123457"},
      {std::numeric_limits<double>::infinity(), "inf"},
      {-std::numeric_limits<double>::infinity(), "-inf"},
      {std::numeric_limits<double>::quiet_NaN(), "nan"},
      {-std::numeric_limits<double>::quiet_NaN(), "-nan"},
      {std::numeric_limits<double>::max(), "1.79769e+308"},
      {std::numeric_limits<double>::denorm_min(), "4.94066e-324"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(numberText(value), text) << text;
}

TEST(NumberText, Integers) {
  const std::pair<std::int64_t, const char*> cases[] = {
      {0, "0"}, {-3, "-3"}, {10000, "10000"}, {2147483647, "2147483647"},
      {INT64_MIN, "-9223372036854775808"}};
  for (const auto& [value, text] : cases) {
    std::string s = "x";
    appendInteger(s, value);
    EXPECT_EQ(s, std::string("x") + text);
  }
}

// The C library's %.6g text with a two-digit exponent widened to three digits.
std::string libraryText(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.6g", value);
  std::string text = buffer;
  const std::size_t e = text.find('e');
  if (e != std::string::npos && text.size() - (e + 2) < 3) text.insert(e + 2, 1, '0');
  return text;
}

void expectSameAsLibrary(double value, std::uint64_t& mismatches) {
  char out[kNumberTextCapacity];
  const int n = formatDouble(value, out);
  const std::string expected = libraryText(value);
  if (std::string(out, static_cast<std::size_t>(n)) != expected && ++mismatches <= 10) {
    ADD_FAILURE() << std::bit_cast<std::uint64_t>(value) << ": " << std::string(out, n)
                  << " vs " << expected;
  }
}

TEST(NumberText, AgreesWithTheCLibraryOverTheWholeRange) {
  std::mt19937_64 rng(42);
  std::uniform_real_distribution<double> mantissa(1.0, 10.0);
  std::uniform_int_distribution<int> exponent(-330, 310);
  std::uint64_t mismatches = 0;
  for (int i = 0; i < 1000000; ++i) {
    expectSameAsLibrary(std::bit_cast<double>(rng()), mismatches);  // random bit patterns
    const double v = mantissa(rng) * std::pow(10.0, exponent(rng));  // random magnitudes
    expectSameAsLibrary(rng() & 1 ? -v : v, mismatches);
  }
  // Values next to the rounding and form boundaries: 9.999995 x 10^k and 0.5 ulp steps.
  for (int k = -320; k <= 308; ++k) {
    const double edge = 9.999995 * std::pow(10.0, k);
    double below = edge;
    double above = edge;
    for (int s = 0; s < 50; ++s) {
      expectSameAsLibrary(below, mismatches);
      expectSameAsLibrary(above, mismatches);
      below = std::nextafter(below, 0.0);
      above = std::nextafter(above, INFINITY);
    }
  }
  EXPECT_EQ(mismatches, 0u);
}

}  // namespace
