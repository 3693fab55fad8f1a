// The quote reader (--quotes) over arbitrary bytes.
//
// - The same bytes read whole, in pieces of any size, and from a file give the same outcome:
//   the same message, or the same quotes bit for bit and the same report. So does the same
//   text with its LF line ends written as lone CRs or as CR LF pairs (for a text without CR).
// - A refusal is one line: "Error reading file: q.csv: " and what was found, with no line end,
//   CR or 0 byte in it, and of a bounded length.
// - An accepted file holds no 0 byte, no 0x1A byte but as its very last byte, and no line
//   longer than kMostQuoteLineBytes. Each quote held comes from a non-blank line after the
//   header (the first non-blank line), lines split here at LF, CR LF and lone CR after a
//   byte-order mark; its keys are numbers, its prices none or finite, at least 0, a call (or
//   its bid and ask) at most S0 and a put at most K. A row with its keys finds it, and counts
//   as quoted in the report, whose every line names the file and ends with a line end.
//
// Input: one control byte (the size of the pieces; 0: the whole text at once), then the file.
#include <bit>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/quotes/quote_book.h"
#include "engine/quotes/quote_lines.h"
#include "fuzz/harness.h"
#include "text/input_stream.h"

using namespace empricer;

namespace {

const std::string kName = "q.csv";

bool sameBits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

bool sameQuotes(const std::vector<HeldQuote>& a, const std::vector<HeldQuote>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!sameBits(a[i].spot, b[i].spot) || !sameBits(a[i].strike, b[i].strike) ||
        !sameBits(a[i].days, b[i].days) || !sameBits(a[i].quote.call, b[i].quote.call) ||
        !sameBits(a[i].quote.put, b[i].quote.put) || a[i].line != b[i].line) {
      return false;
    }
  }
  return true;
}

struct Read {
  bool ok = false;
  std::string message;
  std::vector<HeldQuote> quotes;
  std::string report;
};

Read outcomeOf(QuoteBook& book, const Status& status) {
  return Read{status.ok(), status.message(), book.held(), book.reportText()};
}

void checkSame(const Read& a, const Read& b, const char* how, const std::string& shown) {
  FUZZ_CHECK(a.ok == b.ok && a.message == b.message, std::string(how) + ": " + a.message +
                                                         " | " + b.message + "\n" + shown);
  FUZZ_CHECK(sameQuotes(a.quotes, b.quotes) && a.report == b.report, std::string(how) + "\n" + shown);
}

std::string replaced(std::string_view text, char from, std::string_view to) {
  std::string out;
  for (const char c : text) {
    if (c == from) {
      out += to;
    } else {
      out += c;
    }
  }
  return out;
}

bool blank(std::string_view line) {
  return line.find_first_not_of(" \t\v\f") == std::string_view::npos;
}

bool withinBound(double price, double bound) {
  return std::isnan(price) || (std::isfinite(price) && price >= 0.0 && price <= bound);
}

void checkAccepted(std::string_view bytes, QuoteBook& book, const Read& read) {
  const std::string shown = harness::printable(bytes);
  if (bytes.ends_with('\x1a')) bytes.remove_suffix(1);
  FUZZ_CHECK(bytes.find_first_of(std::string_view("\0\x1a", 2)) == std::string_view::npos, shown);
  if (bytes.starts_with(kByteOrderMark)) bytes.remove_prefix(kByteOrderMark.size());
  const std::vector<std::string_view> lines = harness::linesOf(bytes);
  std::size_t header = 0;
  while (header < lines.size() && blank(lines[header])) ++header;
  FUZZ_CHECK(header < lines.size(), "accepted without a header: " + shown);
  for (const std::string_view line : lines) FUZZ_CHECK(line.size() <= kMostQuoteLineBytes, shown);

  std::int64_t noted = 0;
  for (const HeldQuote& held : read.quotes) {
    const std::string where = "line " + std::to_string(held.line) + ": " + shown;
    FUZZ_CHECK(held.line > static_cast<std::int64_t>(header + 1) &&
                   held.line <= static_cast<std::int64_t>(lines.size()),
               where);
    FUZZ_CHECK(!blank(lines[static_cast<std::size_t>(held.line - 1)]), where);
    FUZZ_CHECK(!std::isnan(held.spot) && !std::isnan(held.strike) && !std::isnan(held.days), where);
    FUZZ_CHECK(withinBound(held.quote.call, held.spot), where);
    FUZZ_CHECK(withinBound(held.quote.put, held.strike), where);
    if (held.days != std::trunc(held.days) || !(std::fabs(held.days) < 2e9)) continue;
    const auto days = static_cast<std::int32_t>(held.days);
    const MarketQuote found = book.find(held.spot, held.strike, days);
    FUZZ_CHECK(sameBits(found.call, held.quote.call) && sameBits(found.put, held.quote.put), where);
    book.noteRow(held.spot, held.strike, days);
    ++noted;
  }
  const std::string report = book.reportText();
  const std::string counts = "; 0 of " + std::to_string(noted) + " rows had no quote\n";
  FUZZ_CHECK(report.find(counts) != std::string::npos, report + shown);
  for (std::size_t start = 0; start < report.size();) {
    FUZZ_CHECK(report.compare(start, 10 + kName.size() + 2, "empricer: " + kName + ": ") == 0,
               report);
    const std::size_t end = report.find('\n', start);
    FUZZ_CHECK(end != std::string::npos, report);
    start = end + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  harness::setUpProcess();
  const std::size_t piece = data[0] == 0 ? size : data[0];
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string shown = harness::printable(bytes);

  QuoteBook whole;
  const Read read = outcomeOf(whole, whole.read(bytes, kName));
  QuoteBook pieces;
  checkSame(read, outcomeOf(pieces, pieces.read(bytes, kName, piece)), "in pieces", shown);
  harness::writeFile(kName.c_str(), bytes);
  QuoteBook file;
  checkSame(read, outcomeOf(file, file.load(kName)), "from the file", shown);
  if (bytes.find('\r') == std::string_view::npos) {
    QuoteBook cr;
    checkSame(read, outcomeOf(cr, cr.read(replaced(bytes, '\n', "\r"), kName, piece)),
              "lone CR", shown);
    QuoteBook crlf;
    checkSame(read, outcomeOf(crlf, crlf.read(replaced(bytes, '\n', "\r\n"), kName)), "CR LF",
              shown);
  }

  if (!read.ok) {
    const std::string prefix = "Error reading file: " + kName;
    FUZZ_CHECK(read.message.starts_with(prefix), read.message);
    FUZZ_CHECK(read.message.find_first_of(std::string_view("\n\r\0", 3)) == std::string::npos,
               harness::printable(read.message));
    FUZZ_CHECK(read.message.size() < 3 * kMostQuoteLineBytes, read.message);
    return 0;
  }
  checkAccepted(bytes, whole, read);
  return 0;
}
