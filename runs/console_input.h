// Numbers typed on the console, read the way the program's users expect: leading white space
// (line ends included) is skipped, the longest prefix that forms a number is taken and the
// rest stays for the next read. A read that finds no number fails, and the console input then
// stays failed: every later read returns at once and stores nothing.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace empricer {

struct ConsoleInput {
  std::FILE* in = stdin;
  std::string lookahead;  // characters taken from `in` and not yet consumed
  bool failed = false;
};

// An optional sign, digits with an optional point, an optional exponent (e or E, optional
// sign, digits), at most 27 characters. A failed read leaves `value` unchanged, except that it
// stores 0.0 when the answer began with a sign or a point. Standard output is flushed first.
bool readDouble(ConsoleInput& console, double& value);

// An optional sign and digits: 0x or 0X starts hexadecimal digits, any other leading 0 octal
// digits. At most 15 characters are taken. A read without digits, a 0x without a hexadecimal
// digit, or a value outside the 32-bit range fails and stores 0. Standard output is flushed
// first.
bool readInteger(ConsoleInput& console, std::int32_t& value);

}  // namespace empricer
