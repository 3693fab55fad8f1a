#include "engine/quotes/quote_lines.h"

#include "text/input_stream.h"

namespace empricer {

namespace {

constexpr char kEndMark = '\x1a';

}  // namespace

std::string QuoteLines::at(const std::string& what) const {
  return "line " + std::to_string(number_) + ": " + what;
}

std::size_t QuoteLines::nextColumn() const {
  const bool marked = number_ == 1 && markMatched_ == kByteOrderMark.size();
  return line_.size() + 1 - (marked ? kByteOrderMark.size() : 0);
}

std::string QuoteLines::endLine(const QuoteLineTaker& take) {
  std::string_view line = line_;
  if (number_ == 1 && markMatched_ == kByteOrderMark.size()) {
    line.remove_prefix(kByteOrderMark.size());
  }
  if (std::string wrong = take(number_, line); !wrong.empty()) return at(wrong);
  line_.clear();
  ++number_;
  return {};
}

std::string QuoteLines::feed(std::string_view piece, const QuoteLineTaker& take) {
  for (const char c : piece) {
    if (++fileBytes_ > kMostQuoteFileBytes) {
      return at("the file goes on past " + std::to_string(kMostQuoteFileBytes) +
                " bytes, the most a quote file may hold");
    }
    // A 0x1A with a byte after it is not the end mark.
    if (endMark_) return at("a 0x1A byte at column " + std::to_string(endMarkColumn_));
    if (fileBytes_ <= kByteOrderMark.size() && markMatched_ + 1 == fileBytes_ &&
        c == kByteOrderMark[markMatched_]) {
      ++markMatched_;
    }
    if (c == '\n' && afterCr_) {  // the LF of a CR LF pair
      afterCr_ = false;
      continue;
    }
    afterCr_ = c == '\r';
    if (c == '\n' || c == '\r') {
      if (std::string wrong = endLine(take); !wrong.empty()) return wrong;
      continue;
    }
    if (c == 0) return at("a 0 byte at column " + std::to_string(nextColumn()));
    if (c == kEndMark) {
      endMark_ = true;
      endMarkColumn_ = nextColumn();
      continue;
    }
    if (nextColumn() > kMostQuoteLineBytes) {
      return at("the line goes on past " + std::to_string(kMostQuoteLineBytes) + " bytes");
    }
    line_.push_back(c);
  }
  return {};
}

std::string QuoteLines::finish(const QuoteLineTaker& take) {
  endMark_ = false;  // the file's very last byte: the end mark, dropped
  if (line_.empty()) return {};
  return endLine(take);
}

}  // namespace empricer
