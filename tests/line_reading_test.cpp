// Reading files line by line: text-mode translation, the 99-character limit, the two flags and
// the reading loop.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "text/line_reader.h"
#include "run_support.h"

using namespace empricer;

namespace {

// The characters the last read stored.
std::string textOf(const LineBuffer& line) {
  return std::string(line.bytes.data(), static_cast<std::size_t>(line.length));
}

// Every line the reading loop hands over for a file with `content`.
std::vector<std::string> linesOf(const std::string& content) {
  TempDir dir;
  dir.write("f.txt", content);
  InputStream stream;
  openForReading(stream, dir.file("f.txt").c_str());
  EXPECT_TRUE(isOpen(stream));
  LineBuffer line{};
  std::vector<std::string> lines;
  forEachLine(stream, line, [&](const LineBuffer& l) { lines.push_back(textOf(l)); });
  return lines;
}

using Lines = std::vector<std::string>;
using namespace std::string_literals;

TEST(ReadingLoop, HandsOverLinesWithAndWithoutFinalNewline) {
  EXPECT_EQ(linesOf("0.25,3\n1,2\n"), (Lines{"0.25,3", "1,2"}));
  EXPECT_EQ(linesOf("0.25,3\n1,2"), (Lines{"0.25,3", "1,2"}));
  EXPECT_EQ(linesOf(""), Lines{});
  EXPECT_EQ(linesOf("\n\na\n\n\nb\n\n"), (Lines{"a", "b"}));
}

TEST(ReadingLoop, StoresZeroBytesAndSkipsALineThatBeginsWithOne) {
  EXPECT_EQ(linesOf("a\0b\0\n\0" "cd\n\0\ne\n"s), (Lines{"a\0b\0"s, "e"}));
}

TEST(ReadingLoop, ReadsCrLfAsOneNewlineAndKeepsALoneCr) {
  EXPECT_EQ(linesOf("ab\r\ncd\r\n"), (Lines{"ab", "cd"}));
  EXPECT_EQ(linesOf("ab\r\n\r\ncd"), (Lines{"ab", "cd"}));
  EXPECT_EQ(linesOf("a\rb\n\r\r\n"), (Lines{"a\rb", "\r"}));
  EXPECT_EQ(linesOf("ab\r"), (Lines{"ab\r"}));
  EXPECT_EQ(linesOf("ab\n\r"), (Lines{"ab", "\r"}));
}

TEST(ReadingLoop, SplitsLongLinesAfter99Characters) {
  const std::string a150(150, 'a');
  EXPECT_EQ(linesOf(a150 + "\nz\n"), (Lines{std::string(99, 'a'), std::string(51, 'a'), "z"}));
  const std::string b99(99, 'b');
  EXPECT_EQ(linesOf(b99 + "\nz\n"), (Lines{b99, "z"}));
  EXPECT_EQ(linesOf(b99 + b99 + "\r\n"), (Lines{b99, b99}));
  EXPECT_EQ(linesOf(std::string(98, 'c') + "\r\n"), (Lines{std::string(98, 'c')}));
}

TEST(ReadingLoop, Byte1AEndsTheFile) {
  EXPECT_EQ(linesOf("ab\ncd\x1A" "ef\ngh\n"), (Lines{"ab", "cd"}));
  EXPECT_EQ(linesOf("\x1A" "ab\n"), Lines{});
  EXPECT_EQ(linesOf("ab\r\x1A\n"), (Lines{"ab\r"}));
}

// A CR LF pair or an end byte right at a 2^k offset, where a reader that reads in blocks is
// most likely to split it.
TEST(ReadingLoop, CrLfAndEndByteAtBlockOffsets) {
  for (std::size_t pad :
       {4095u, 4096u, 8191u, 16382u, 16383u, 16384u, 16434u, 32767u, 65535u}) {
    Lines expected;
    for (std::size_t done = 0; done < pad; done += 99) {
      expected.push_back(std::string(std::min<std::size_t>(99, pad - done), 'a'));
    }
    const std::string body(pad, 'a');
    Lines withEnd = expected;
    expected.push_back("b");
    EXPECT_EQ(linesOf(body + "\r\nb\r\n"), expected) << pad;
    EXPECT_EQ(linesOf(body + "\x1A" "\r\nb\r\n"), withEnd) << pad;
    Lines withCr = withEnd;
    if (pad % 99 == 0) {
      withCr.push_back("\r");
    } else {
      withCr.back() += "\r";
    }
    EXPECT_EQ(linesOf(body + "\r"), withCr) << pad;
  }
}

TEST(ReadLine, SetsFlagsAsTheReadsReachTheEnd) {
  TempDir dir;
  dir.write("two.txt", "ab\ncd\n");
  InputStream s;
  openForReading(s, dir.file("two.txt").c_str());
  LineBuffer line{};
  readLine(s, line);
  EXPECT_EQ(textOf(line), "ab");
  EXPECT_FALSE(s.endOfFile || s.failure);
  readLine(s, line);
  EXPECT_EQ(textOf(line), "cd");
  EXPECT_FALSE(s.endOfFile || s.failure);
  readLine(s, line);
  EXPECT_EQ(line.bytes[0], 0);
  EXPECT_EQ(line.length, 0);
  EXPECT_TRUE(s.endOfFile && s.failure);

  dir.write("open.txt", "ab\ncd");
  InputStream t;
  openForReading(t, dir.file("open.txt").c_str());
  readLine(t, line);
  readLine(t, line);
  EXPECT_EQ(textOf(line), "cd");
  EXPECT_TRUE(t.endOfFile);
  EXPECT_FALSE(t.failure);
  line.bytes[1] = 'x';
  readLine(t, line);  // any read after a flag fails and stores only the 0 in byte 0
  EXPECT_TRUE(t.failure);
  EXPECT_EQ(line.bytes[0], 0);
  EXPECT_EQ(line.bytes[1], 'x');
  EXPECT_EQ(line.length, 0);

  dir.write("long.txt", std::string(150, 'q'));
  InputStream u;
  openForReading(u, dir.file("long.txt").c_str());
  readLine(u, line);  // reaching the 99-character limit is not the end
  EXPECT_FALSE(u.endOfFile || u.failure);
}

TEST(ReadLine, KeepsTheTailOfALongerEarlierLine) {
  TempDir dir;
  dir.write("f.txt", "1234567890\nab\n");
  InputStream s;
  openForReading(s, dir.file("f.txt").c_str());
  LineBuffer line{};
  readLine(s, line);
  readLine(s, line);
  EXPECT_EQ(line.length, 2);
  EXPECT_EQ(std::string(line.bytes.data(), 11), "ab\0" "4567890\0"s);
  for (std::size_t p = 11; p < line.bytes.size(); ++p) EXPECT_EQ(line.bytes[p], 0) << p;
}

TEST(OpenForReading, MissingFileOrDirectoryIsNotOpen) {
  TempDir dir;
  for (const std::string& path : {dir.file("absent.txt"), dir.path()}) {
    InputStream s;
    openForReading(s, path.c_str());
    EXPECT_FALSE(isOpen(s)) << path;
    EXPECT_TRUE(s.failure) << path;
    LineBuffer line{};
    line.bytes[0] = 'x';
    readLine(s, line);
    EXPECT_EQ(line.bytes[0], 0);
    EXPECT_FALSE(s.endOfFile) << "a stream that did not open never reaches its end";
  }
}

// A file read whole reads as a stream of the same lines from memory; one that does not fit the
// limit (here one that fills it: it may have grown) is left to be read as a stream from its
// start.
TEST(ReadWholeFile, WithinTheLimitOrBackAtTheStart) {
  TempDir dir;
  const std::string content = "1,2\r\n\n3,4\n" + std::string(150, 'x') + "\x1a" "5,6\n";
  dir.write("f.txt", content);
  for (std::size_t limit : {content.size() + 1, content.size(), std::size_t{4}}) {
    InputStream file;
    openForReading(file, dir.file("f.txt").c_str());
    std::string bytes;
    const bool whole = readWholeFile(file, bytes, limit);
    EXPECT_EQ(whole, limit > content.size()) << limit;
    InputStream memory;
    if (whole) openFromMemory(memory, bytes.data(), bytes.size());
    InputStream& stream = whole ? memory : file;
    LineBuffer line{};
    Lines lines;
    forEachLine(stream, line, [&](const LineBuffer& l) { lines.push_back(textOf(l)); });
    EXPECT_EQ(lines, linesOf(content)) << limit;
    EXPECT_EQ(lines.size(), 4u);
  }
}

}  // namespace
