// The lines of a quote file, taken piece by piece as its reads deliver them: each line without
// its end (LF, CR LF or a lone CR, as old spreadsheets write them), counted from 1, with a
// UTF-8 byte-order mark at the very start of the file dropped. A quote file is text of a sane
// size, and what is not is refused at the line where it shows, with what was found there: a 0
// byte, a 0x1A byte (except one as the file's very last byte, the end mark of old DOS files,
// which is dropped), a line longer than kMostQuoteLineBytes, or a file larger than
// kMostQuoteFileBytes. The result never depends on how the bytes are cut into pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace empricer {

// The most bytes a line of a quote file may hold, its end not counted.
inline constexpr std::size_t kMostQuoteLineBytes = 4096;
// The most bytes a quote file may hold: 16 MiB, some hundred thousand quotes.
inline constexpr std::size_t kMostQuoteFileBytes = std::size_t{16} << 20;

// Takes line `number`; returns what is wrong with it ("'x' is not a number"), or nothing.
using QuoteLineTaker = std::function<std::string(std::int64_t number, std::string_view line)>;

class QuoteLines {
 public:
  // The next piece of the file: each line it completes goes to `take`, in order. Returns
  // "line N: " and what is wrong at the first line that is refused, or nothing; after a refusal
  // nothing more may be fed.
  std::string feed(std::string_view piece, const QuoteLineTaker& take);
  // The end of the file: its last line, when it has no line end, goes to `take`.
  std::string finish(const QuoteLineTaker& take);

 private:
  std::string at(const std::string& what) const;
  // The column, counted from 1, of the next byte of the line (after the byte-order mark).
  std::size_t nextColumn() const;
  std::string endLine(const QuoteLineTaker& take);

  std::string line_;             // the line so far, byte-order mark included
  std::int64_t number_ = 1;      // the number of the line being read
  std::size_t fileBytes_ = 0;    // bytes fed so far
  std::size_t markMatched_ = 0;  // leading bytes of the file that match the byte-order mark
  bool afterCr_ = false;         // the last byte was a CR: an LF next belongs to its line end
  bool endMark_ = false;         // the last byte was a 0x1A, not stored
  std::size_t endMarkColumn_ = 0;
};

}  // namespace empricer
