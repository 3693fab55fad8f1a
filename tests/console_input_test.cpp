// Numbers typed on the console: what each read takes, what it leaves, what a failed read
// stores, and the failed state that sticks.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "runs/console_input.h"

using namespace empricer;

namespace {

// A console whose input is `text`.
class Typed {
 public:
  explicit Typed(const std::string& text) {
    console.in = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), console.in);
    std::rewind(console.in);
  }
  ~Typed() { std::fclose(console.in); }
  // Everything not yet consumed by a read.
  std::string rest() {
    std::string r = console.lookahead;
    for (int c; (c = std::fgetc(console.in)) != EOF;) r.push_back(static_cast<char>(c));
    return r;
  }
  ConsoleInput console;
};

std::int32_t integerOf(const std::string& text, std::string* left = nullptr) {
  Typed t(text);
  std::int32_t v = -99;
  EXPECT_TRUE(readInteger(t.console, v)) << text;
  if (left) *left = t.rest();
  return v;
}

TEST(ConsoleInput, IntegersWithBasePrefixes) {
  std::string left;
  EXPECT_EQ(integerOf("2.7\n", &left), 2);
  EXPECT_EQ(left, ".7\n");
  EXPECT_EQ(integerOf("030\n", &left), 24);
  EXPECT_EQ(left, "\n");
  EXPECT_EQ(integerOf("0x1E\n"), 30);
  EXPECT_EQ(integerOf("0X1e"), 30);
  EXPECT_EQ(integerOf("09\n", &left), 0);
  EXPECT_EQ(left, "9\n");
  EXPECT_EQ(integerOf("-0x10"), -16);
  EXPECT_EQ(integerOf("+010"), 8);
  EXPECT_EQ(integerOf(" \n\t 12abc", &left), 12);
  EXPECT_EQ(left, "abc");
  EXPECT_EQ(integerOf("2147483647"), 2147483647);
  EXPECT_EQ(integerOf("-2147483648"), -2147483647 - 1);
  EXPECT_EQ(integerOf("0x7fffffff"), 2147483647);
}

TEST(ConsoleInput, IntegerTakesAtMost15Characters) {
  const std::string zeros13(13, '0');
  std::string left;
  EXPECT_EQ(integerOf(zeros13 + "12345", &left), 10);  // 15 characters: octal 012
  EXPECT_EQ(left, "345");
  EXPECT_EQ(integerOf("-" + zeros13 + "17", &left), -1);
  EXPECT_EQ(left, "7");
  EXPECT_EQ(integerOf("0x" + std::string(12, '0') + "1F", &left), 1);
  EXPECT_EQ(left, "F");
  EXPECT_EQ(integerOf("0x" + std::string(12, '0') + "F"), 15);
}

TEST(ConsoleInput, FailedIntegerReadStoresZero) {
  for (const char* text : {"", "  \n", "abc", "-", "+x", "0x", "0xg", "-0x", "2147483648",
                           "-2147483649", "0x80000000", "99999999999999"}) {
    Typed t(text);
    std::int32_t v = 5;
    EXPECT_FALSE(readInteger(t.console, v)) << '"' << text << '"';
    EXPECT_EQ(v, 0) << '"' << text << '"';
  }
}

// "1" followed by n - 1 zeros: n characters.
std::string digits(int n) {
  std::string text(static_cast<std::size_t>(n), '0');
  text[0] = '1';
  return text;
}

TEST(ConsoleInput, Doubles) {
  struct Case {
    std::string text;
    double expected;
    std::string left;
  };
  const Case cases[] = {
      {"2.7\n", 2.7, "\n"},     {"-.5 x", -0.5, " x"},    {"+5", 5.0, ""},
      {"5.", 5.0, ""},           {"1e3", 1000.0, ""},      {"1E-2", 0.01, ""},
      {"2e x", 2.0, "e x"},      {"2e+", 2.0, "e+"},       {"1d2", 1.0, "d2"},
      {"0x1A", 0.0, "x1A"},      {"\n\n 3\n", 3.0, "\n"}, {"1.2.3", 1.2, ".3"},
      // Number texts of exactly 27 characters.
      {digits(27) + " 5", 1e26, " 5"},
      {digits(27) + "ex", 1e26, "ex"},
      {digits(26) + ".", 1e25, ""},
      {digits(25) + "e5", 1e29, ""},
      {"-" + digits(26), -1e25, ""},
      {"." + std::string(25, '0') + "1", 1e-26, ""},
      {"1.5e+" + std::string(21, '0') + "3", 1500.0, ""},
  };
  for (const auto& c : cases) {
    Typed t(c.text);
    double v = -99.0;
    EXPECT_TRUE(readDouble(t.console, v)) << '"' << c.text << '"';
    EXPECT_EQ(v, c.expected) << '"' << c.text << '"';
    EXPECT_EQ(t.rest(), c.left) << '"' << c.text << '"';
  }
}

TEST(ConsoleInput, FailedDoubleReadStoresZeroOnlyAfterSignOrPoint) {
  const std::pair<std::string, double> cases[] = {
      {"", 7.5},   {" \n", 7.5}, {"abc", 7.5}, {"inf", 7.5}, {"nan", 7.5}, {"e5", 7.5},
      {"-", 0.0},  {"+x", 0.0},  {".", 0.0},   {".e1", 0.0}, {"-inf", 0.0},
      // Number texts of 28 characters.
      {digits(28), 7.5},
      {digits(27) + ".", 7.5},
      {digits(26) + "e5", 7.5},
      {"1.5e+" + std::string(22, '0') + "3", 7.5},
      {"-" + digits(27), 0.0},
      {"." + std::string(26, '0') + "1", 0.0},
  };
  for (const auto& [text, expected] : cases) {
    Typed t(text);
    double v = 7.5;
    EXPECT_FALSE(readDouble(t.console, v)) << '"' << text << '"';
    EXPECT_EQ(v, expected) << '"' << text << '"';
  }
}

TEST(ConsoleInput, SeveralAnswersOnOneLine) {
  Typed t("100 95.5 030\n7\n");
  double spot = 0, strike = 0;
  std::int32_t days = 0, more = 0;
  EXPECT_TRUE(readDouble(t.console, spot));
  EXPECT_TRUE(readDouble(t.console, strike));
  EXPECT_TRUE(readInteger(t.console, days));
  EXPECT_TRUE(readInteger(t.console, more));
  EXPECT_EQ(spot, 100.0);
  EXPECT_EQ(strike, 95.5);
  EXPECT_EQ(days, 24);
  EXPECT_EQ(more, 7);
  EXPECT_FALSE(readInteger(t.console, more));
}

TEST(ConsoleInput, AFailedReadSticks) {
  Typed t("abc\n5\n6\n");
  double first = 1.5;
  EXPECT_FALSE(readDouble(t.console, first));
  EXPECT_EQ(first, 1.5);
  double second = 2.5;
  std::int32_t third = 42;
  EXPECT_FALSE(readDouble(t.console, second));
  EXPECT_FALSE(readInteger(t.console, third));
  EXPECT_EQ(second, 2.5);
  EXPECT_EQ(third, 42);

  Typed u("0x\n5\n");
  std::int32_t days = 3;
  EXPECT_FALSE(readInteger(u.console, days));
  EXPECT_EQ(days, 0);
  double later = 2.5;
  EXPECT_FALSE(readDouble(u.console, later));
  EXPECT_EQ(later, 2.5);
}

}  // namespace
