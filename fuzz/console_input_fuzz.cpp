// The console number reader over arbitrary answers. Each read must take the prefix that the
// C library's strtod (doubles, at most 27 characters, no d exponent, no hex, inf or nan) or
// strtol with base 0 (integers, at most 15 characters, 32-bit range, a 0x without a hex digit
// refused) takes, leave the rest for the next read, and a failed read must stick.
//
// Input: byte 0 says, bit by bit, whether each of eight reads is an integer (1) or a double
// (0); the rest is what is typed.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runs/console_input.h"
#include "fuzz/harness.h"
#include "fuzz/reference.h"

using namespace empricer;

namespace {

bool isSpace(char c) { return c != 0 && std::strchr(" \t\n\v\f\r", c) != nullptr; }

struct Model {
  std::string text;
  std::size_t pos = 0;
  bool failed = false;

  void skipSpace() {
    while (pos < text.size() && isSpace(text[pos])) ++pos;
  }
  // The window of text that a read may look at, cut at a 0 byte (which is no number text).
  std::string window(std::size_t length) const {
    std::string w = text.substr(pos, length);
    return w.substr(0, w.find('\0'));
  }

  bool readDouble(double& value) {
    if (failed) return false;
    skipSpace();
    const char first = pos < text.size() ? text[pos] : 0;
    const std::string w = window(40);
    char* end = nullptr;
    std::strtod(w.c_str(), &end);
    std::string consumed(w.c_str(), static_cast<const char*>(end));
    if (consumed.find_first_of("xX") != std::string::npos) {
      consumed = consumed.substr(0, consumed.find_first_of("xX"));  // the 0 before the x
    } else if (consumed.find_first_of("iInN") != std::string::npos) {
      consumed.clear();
    }
    if (consumed.empty() || consumed.size() > 27) {
      failed = true;
      if (first == '+' || first == '-' || first == '.') value = 0.0;
      return false;
    }
    value = std::strtod(consumed.c_str(), nullptr);
    pos += consumed.size();
    return true;
  }

  bool readInteger(std::int32_t& value) {
    if (failed) return false;
    skipSpace();
    const std::string w = window(15);
    std::size_t digitsAt = (!w.empty() && (w[0] == '+' || w[0] == '-')) ? 1 : 0;
    const bool hex = w.size() >= digitsAt + 2 && w[digitsAt] == '0' &&
                     (w[digitsAt + 1] == 'x' || w[digitsAt + 1] == 'X');
    char* end = nullptr;
    const long long v = std::strtoll(w.c_str(), &end, 0);
    const std::size_t taken = static_cast<std::size_t>(end - w.c_str());
    const bool noHexDigit = hex && taken <= digitsAt + 2;
    if (taken == 0 || noHexDigit || v < INT32_MIN || v > INT32_MAX) {
      failed = true;
      value = 0;
      return false;
    }
    value = static_cast<std::int32_t>(v);
    pos += taken;
    return true;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const unsigned kinds = data[0];
  std::string typed(reinterpret_cast<const char*>(data) + 1, size - 1);

  // fmemopen refuses an empty buffer; an empty answer reads from /dev/null.
  std::FILE* in = typed.empty() ? std::fopen("/dev/null", "r")
                                : fmemopen(typed.data(), typed.size(), "r");
  FUZZ_CHECK(in != nullptr, "");
  ConsoleInput console;
  console.in = in;
  Model model{typed};

  for (int k = 0; k < 8; ++k) {
    if (kinds & (1u << k)) {
      std::int32_t got = 12345, want = 12345;
      const bool ok = readInteger(console, got);
      const bool wantOk = model.readInteger(want);
      FUZZ_CHECK(ok == wantOk && got == want,
                 "integer read " + std::to_string(k) + " of " + harness::printable(typed) +
                     ": got " + std::to_string(ok) + "/" + std::to_string(got) + " want " +
                     std::to_string(wantOk) + "/" + std::to_string(want));
    } else {
      double got = 12345.5, want = 12345.5;
      const bool ok = readDouble(console, got);
      const bool wantOk = model.readDouble(want);
      FUZZ_CHECK(ok == wantOk && reference::sameBits(got, want),
                 "double read " + std::to_string(k) + " of " + harness::printable(typed) +
                     ": got " + std::to_string(ok) + "/" + std::to_string(got) + " want " +
                     std::to_string(wantOk) + "/" + std::to_string(want));
    }
    FUZZ_CHECK(console.failed == model.failed, "");
  }
  // What no read took is still there for the next one.
  if (!model.failed) {
    std::string rest = console.lookahead;
    int c;
    while ((c = std::fgetc(in)) != EOF) rest.push_back(static_cast<char>(c));
    FUZZ_CHECK(rest == typed.substr(model.pos),
               harness::printable(rest) + " vs " + harness::printable(typed.substr(model.pos)));
  }
  std::fclose(in);
  return 0;
}
