// Numbered comma- and space-separated fields of a line buffer.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "text/fields.h"

using namespace empricer;

namespace {

using namespace std::string_literals;

// A line buffer as a read of `text` leaves it over `before` (an earlier line's bytes).
LineBuffer lineOf(const std::string& text, const std::string& before = "") {
  LineBuffer line{};
  std::memcpy(line.bytes.data(), before.data(), before.size());
  std::memcpy(line.bytes.data(), text.data(), text.size());
  line.length = static_cast<int>(text.size());
  line.bytes[text.size()] = 0;
  return line;
}

struct FieldCase {
  std::string text;
  bool byComma;
  int n;
  double expected;
};

TEST(Fields, TableOfExamples) {
  const FieldCase cases[] = {
      {"0.25,3", true, 1, 0.25},      {"0.25,3", true, 2, 3.0},
      {"0.25,,3", true, 2, 0.0},      {"0.25,,3", true, 3, 3.0},
      {",3", true, 1, 0.0},           {"1.5e2,7", true, 1, 150.0},
      {"1.5d2,7", true, 1, 150.0},    {"2e+,7", true, 1, 2.0},
      {"-.5,7", true, 1, -0.5},       {"12abc,7", true, 1, 12.0},
      {"0x10,7", true, 1, 0.0},       {"3 Rate 0.05", false, 3, 0.05},
      {"3 Rate 0.05", false, 2, 0.0}, {"3  Rate 0.05", false, 3, 0.0},
      {"3  Rate 0.05", false, 4, 0.05}, {"1.5\t2\t3", false, 1, 1.5},
      {"1.5\t2\t3", false, 2, 0.0},   {" 7 ,8", true, 1, 7.0},
      {"4\r", true, 1, 4.0},          {"1,2,3", false, 1, 1.0},
      {"1 2,3 4", true, 2, 3.0},      {"1 2,3 4", false, 2, 2.0},
      // A 0 byte ends the number of its own field, not the line.
      {"100\0,95,2"s, true, 1, 100.0}, {"100\0,95,2"s, true, 3, 2.0},
      {"1.5\0" "7,2"s, true, 1, 1.5},  {"\0" "7,2"s, true, 1, 0.0},
      {"5 S 1.02\0 0.98"s, false, 4, 0.98},
  };
  for (const auto& c : cases) {
    const LineBuffer line = lineOf(c.text);
    const double got = c.byComma ? fieldByComma(line, c.n) : fieldBySpace(line, c.n);
    EXPECT_EQ(got, c.expected) << '"' << c.text << "\" field " << c.n;
  }
}

TEST(Fields, FieldNumbersOutsideTheLineYieldZero) {
  const LineBuffer line = lineOf("5,6");
  for (int n : {0, -1, INT_MIN, 3, 4, INT_MAX}) EXPECT_EQ(fieldByComma(line, n), 0.0) << n;
}

TEST(Fields, NothingBeyondTheLineEndIsTaken) {
  // The delimiters of an earlier, longer line still lie behind the terminator; a 0 byte in the
  // line does not hide the fields after it, and the terminator hides everything behind it.
  const LineBuffer line = lineOf("5\0,6"s, "1,2,3,4,5,6,7");
  EXPECT_EQ(fieldByComma(line, 1), 5.0);
  EXPECT_EQ(fieldByComma(line, 2), 6.0);
  for (int n = 3; n <= 7; ++n) EXPECT_EQ(fieldByComma(line, n), 0.0) << n;
  const LineBuffer spaced = lineOf("2 T", "2 Trajectories 1000");
  EXPECT_EQ(fieldBySpace(spaced, 3), 0.0);
}

TEST(Fields, LastFieldOfAFullLine) {
  std::string text(96, ' ');
  text += "2.5";  // 99 characters: 96 spaces, so field 97 is "2.5"
  const LineBuffer line = lineOf(text);
  EXPECT_EQ(fieldBySpace(line, 97), 2.5);
  EXPECT_EQ(fieldBySpace(line, 96), 0.0);
  EXPECT_EQ(fieldBySpace(line, 98), 0.0);
}

}  // namespace
