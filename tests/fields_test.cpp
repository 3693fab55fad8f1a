// Numbered comma- and space-separated fields of a line buffer.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <string_view>

#include "fuzz/reference.h"
#include "text/fields.h"
#include "text/number_conversion.h"

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

TEST(Fields, WhereAFieldLies) {
  struct SpanCase {
    std::string text;
    char delimiter;
    int n;
    bool present;
    int begin;
    int end;
  };
  const SpanCase cases[] = {
      {"0.25,3", ',', 1, true, 0, 4},    {"0.25,3", ',', 2, true, 5, 6},
      {"0.25,3", ',', 3, false, 0, 0},   {"0.25,,3", ',', 2, true, 5, 5},
      {"1,2,", ',', 3, true, 4, 4},      {" 7 ,8", ',', 1, true, 0, 3},
      {"3  R 1", ' ', 2, true, 2, 2},    {"3  R 1", ' ', 4, true, 5, 6},
      {"1\t2 3", ' ', 1, true, 0, 3},    {"5,6", ',', 0, false, 0, 0},
      {"5,6", ',', -1, false, 0, 0},     {"", ',', 1, true, 0, 0},
      {"", ',', 2, false, 0, 0},
      // A field ends at its first 0 byte; the fields after it are still there.
      {"100\0,95"s, ',', 1, true, 0, 3}, {"100\0,95"s, ',', 2, true, 5, 7},
      {"\0" "7,2"s, ',', 1, true, 0, 0}, {"5 S 1.02\0 0.98"s, ' ', 3, true, 4, 8},
      {"5 S 1.02\0 0.98"s, ' ', 4, true, 10, 14},
  };
  for (const auto& c : cases) {
    // Behind the terminator lie the delimiters of an earlier, longer line.
    const LineBuffer line = lineOf(c.text, std::string(60, c.delimiter));
    const FieldSpan span = fieldSpan(line, c.n, c.delimiter);
    EXPECT_EQ(span.present, c.present) << '"' << c.text << "\" field " << c.n;
    EXPECT_EQ(span.begin, c.begin) << '"' << c.text << "\" field " << c.n;
    EXPECT_EQ(span.end, c.end) << '"' << c.text << "\" field " << c.n;
  }
}

// Over many lines of delimiters, 0 bytes, blanks and number characters, read over the bytes
// of earlier lines: the span holds exactly the field's characters up to its first 0 byte, as a
// plain split gives them, and the field's number is read from those characters.
TEST(Fields, TheSpanHoldsWhatTheNumberIsReadFrom) {
  static constexpr char kAlphabet[] = {',', ',', ' ', ' ', '\0', '\t', '1', '2', '.', 'e',
                                       '-', 'x', '5', ' ', ','};
  std::mt19937 random(20240601);
  auto pick = [&](std::size_t count) {
    return static_cast<std::size_t>(random() % static_cast<std::uint32_t>(count));
  };
  for (int trial = 0; trial < 3000; ++trial) {
    std::string before(pick(kLineBufferSize), '\0');
    for (char& c : before) c = kAlphabet[pick(sizeof kAlphabet)];
    std::string text(pick(kLineBufferSize), '\0');
    for (char& c : text) c = kAlphabet[pick(sizeof kAlphabet)];
    const LineBuffer line = lineOf(text, before);
    for (const char delimiter : {',', ' '}) {
      for (int n = -1; n <= static_cast<int>(text.size()) + 2; ++n) {
        const FieldSpan span = fieldSpan(line, n, delimiter);
        const std::optional<std::string> want = reference::fieldText(text, delimiter, n);
        const std::string got(fieldText(line, span));
        ASSERT_EQ(span.present, want.has_value()) << trial << ' ' << n;
        ASSERT_EQ(got, want.value_or("")) << trial << ' ' << n;
        const double value = delimiter == ',' ? fieldByComma(line, n) : fieldBySpace(line, n);
        const double wantValue = convertNumber(want.value_or("").c_str());
        ASSERT_EQ(std::memcmp(&value, &wantValue, sizeof value), 0) << trial << ' ' << n;
      }
    }
  }
}

}  // namespace
