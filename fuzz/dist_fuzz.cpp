// The readers of empricer-dist over arbitrary bytes: the price file reader, the session keys
// and the settings reader of --mean risk-neutral.
//
// - A price file the reader accepts holds no 0x00 or 0x1A byte, and read again here (its
//   lines split at LF, CR LF and lone CR after a byte-order mark, every line with the
//   header's number of fields) gives the same prices, all finite and above 0, and from them
//   the same returns and gaps, bit for bit, in the same sessions; each lies within the
//   limits on jumps unless they are allowed, and never above kMostJump. One it refuses gets
//   one line that starts with the file's name. From the file or from memory, the same.
// - A session key is the field up to its first blank or digit-led 'T', and holds neither.
// - The settings reader gives the rate and step fraction that empricer's own settings loader
//   gives, bit for bit, and fails only where that loader fails for want of key 3 or 4.
// No reader leaves a file open.
//
// Input: one control byte (bit 0: --allow-jumps; bit 1: --session date; bit 2: --column
// open), then the price file, then optionally "\n##setup\n" and the settings file.
#include <algorithm>
#include <bit>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "runs/settings.h"
#include "builder/csv_fields.h"
#include "builder/price_history.h"
#include "builder/rate_settings.h"
#include "fuzz/harness.h"

using namespace empricer;

namespace {

bool sameBits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

bool blank(std::string_view line) {
  return line.find_first_not_of(" \t\r") == std::string_view::npos;
}

void checkSessionKey(std::string_view field) {
  const std::string_view key = sessionKey(field);
  const auto digitLedT = [&field](std::size_t i) {
    return field[i] == 'T' && i > 0 && field[i - 1] >= '0' && field[i - 1] <= '9';
  };
  FUZZ_CHECK(key.data() == field.data() && key.size() <= field.size(), harness::printable(field));
  for (std::size_t i = 0; i < key.size(); ++i) {
    FUZZ_CHECK(key[i] != ' ' && key[i] != '\t' && !digitLedT(i), harness::printable(field));
  }
  if (key.size() < field.size()) {
    const std::size_t i = key.size();
    FUZZ_CHECK(field[i] == ' ' || field[i] == '\t' || digitLedT(i), harness::printable(field));
  }
}

// The accepted file read again: the prices, returns and gaps that it must give.
void checkAccepted(std::string_view bytes, const PriceReading& reading,
                   const PriceHistory& history) {
  const std::string shown = harness::printable(bytes);
  // One 0x1A as the very last byte is an end mark, dropped; any other is refused.
  if (bytes.ends_with('\x1a')) bytes.remove_suffix(1);
  FUZZ_CHECK(bytes.find_first_of(std::string_view("\0\x1a", 2)) == std::string_view::npos, shown);
  if (bytes.starts_with(kByteOrderMark)) bytes.remove_prefix(kByteOrderMark.size());
  std::vector<std::string_view> lines = harness::linesOf(bytes);
  std::size_t at = 0;
  while (at < lines.size() && blank(lines[at])) ++at;
  FUZZ_CHECK(at < lines.size(), "accepted without a header: " + shown);
  const char delimiter = delimiterOf(lines[at]);
  const std::vector<std::string> header = splitFields(lines[at], delimiter);
  const auto column = [&header](const std::string& name) {
    for (std::size_t i = 0; i < header.size(); ++i) {
      if (header[i].size() != name.size()) continue;
      bool same = true;
      for (std::size_t k = 0; k < name.size(); ++k) {
        same = same && std::tolower(static_cast<unsigned char>(header[i][k])) ==
                           std::tolower(static_cast<unsigned char>(name[k]));
      }
      if (same) return static_cast<std::ptrdiff_t>(i);
    }
    return static_cast<std::ptrdiff_t>(-1);
  };
  // Without a given column: an adjusted close, else close, last or price, by their names
  // lowered without blanks, '_', '-' or '.'.
  const auto plain = [](const std::string& name) {
    std::string text;
    for (const char c : name) {
      if (c != ' ' && c != '\t' && c != '_' && c != '-' && c != '.') {
        text += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      }
    }
    return text;
  };
  const auto named = [&](std::initializer_list<const char*> names) {
    for (std::size_t i = 0; i < header.size(); ++i) {
      for (const char* n : names) {
        if (plain(header[i]) == n) return static_cast<std::ptrdiff_t>(i);
      }
    }
    return static_cast<std::ptrdiff_t>(-1);
  };
  std::ptrdiff_t price = -1;
  if (reading.price) {
    price = column(*reading.price);
  } else {
    price = named({"adjclose", "adjustedclose", "adjclose*", "adjustedcloseprice"});
    for (const char* n : {"close", "last", "price"}) {
      if (price < 0) price = named({n});
    }
  }
  FUZZ_CHECK(price >= 0, shown);
  const std::ptrdiff_t session = reading.session ? column(*reading.session) : -1;
  FUZZ_CHECK(!reading.session || session >= 0, shown);
  FUZZ_CHECK(history.priceColumn == header[static_cast<std::size_t>(price)], shown);

  std::vector<double> returns;
  std::vector<double> gaps;
  std::vector<std::int64_t> sessionReturns;
  std::int64_t prices = 0;
  double previous = 0.0;
  std::string key;
  // The data rows, oldest first: a file read newest first says so in a note.
  std::vector<std::vector<std::string>> rows;
  for (++at; at < lines.size(); ++at) {
    if (blank(lines[at])) continue;
    rows.push_back(splitFields(lines[at], delimiter));
  }
  bool reversed = false;
  for (const std::string& note : history.notes) {
    reversed = reversed || note.find(" runs newest first, ") != std::string::npos;
  }
  if (reversed) std::reverse(rows.begin(), rows.end());
  for (const std::vector<std::string>& fields : rows) {
    FUZZ_CHECK(fields.size() == header.size(), shown);
    const std::optional<double> p = decimalNumber(fields[static_cast<std::size_t>(price)]);
    FUZZ_CHECK(p && std::isfinite(*p) && *p > 0.0, shown);
    bool same = prices > 0;
    if (session >= 0) {
      const std::string_view k = sessionKey(fields[static_cast<std::size_t>(session)]);
      same = same && k == key;
      key = k;
    }
    if (prices > 0) {
      const double ratio = *p / previous;
      const double r = ratio - 1.0;
      FUZZ_CHECK(std::isfinite(r) && r >= -1.0 && r <= kMostJump, shown);
      if (!reading.allowJumps) {
        bool split = false;
        for (const SplitRatio& near : kSplitRatios) {
          split = split || std::fabs(ratio / near.ratio - 1.0) <= kSplitTolerance;
        }
        FUZZ_CHECK(std::fabs(r) <= kMostMove && !split,
                   shown + " ratio " + harness::hexText(ratio));
      }
      if (same) {
        returns.push_back(r);
        ++sessionReturns.back();
      } else {
        gaps.push_back(r);
      }
    }
    if (!same) sessionReturns.push_back(0);
    ++prices;
    previous = *p;
  }
  FUZZ_CHECK(history.priceCount == prices, shown);
  FUZZ_CHECK(history.sessionCount == static_cast<std::int64_t>(sessionReturns.size()), shown);
  FUZZ_CHECK(history.sessionReturns == sessionReturns, shown);
  FUZZ_CHECK(returns.size() >= 2, shown);
  FUZZ_CHECK(history.returns.size() == returns.size() && history.gaps.size() == gaps.size(),
             shown);
  bool allEqual = true;
  for (std::size_t i = 0; i < returns.size(); ++i) {
    FUZZ_CHECK(sameBits(history.returns[i], returns[i]), shown);
    allEqual = allEqual && returns[i] == returns[0];
  }
  FUZZ_CHECK(!allEqual, shown);
  for (std::size_t i = 0; i < gaps.size(); ++i) {
    FUZZ_CHECK(sameBits(history.gaps[i], gaps[i]), shown);
  }
}

void checkRefused(const std::string& message, std::string_view bytes) {
  const std::string shown = harness::printable(message) + " for " + harness::printable(bytes);
  FUZZ_CHECK(message.rfind("prices.csv:", 0) == 0, shown);
  FUZZ_CHECK(message.find_first_of(std::string_view("\n\r\0", 3)) == std::string::npos, shown);
}

void checkSettings(const std::string& text) {
  harness::writeFile("Setup.txt", text);
  const Outcome<RateSettings> rates = loadRateSettings("Setup.txt");
  const Outcome<RunSettings> run = loadSettings("Setup.txt");
  const std::string shown = harness::printable(text);
  if (!rates.ok()) {
    FUZZ_CHECK(rates.message() ==
                       "Setup.txt: no line for key 3 (the risk-free rate), which --mean "
                       "risk-neutral needs" ||
                   rates.message() ==
                       "Setup.txt: no line for key 4 (the step scale), which --mean "
                       "risk-neutral needs",
               harness::printable(rates.message()));
    FUZZ_CHECK(!run.ok(), "only the settings of --mean risk-neutral fail: " + shown);
    return;
  }
  FUZZ_CHECK(sameBits(rates.value().stepFraction, 1.0 / 270 / rates.value().stepScale), shown);
  if (!run.ok()) return;
  FUZZ_CHECK(sameBits(rates.value().rate, run.value().riskFreeRate), shown);
  FUZZ_CHECK(sameBits(rates.value().stepFraction, run.value().stepFraction), shown);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  harness::setUpProcess();
  if (size < 1) return 0;
  const unsigned char control = data[0];
  const harness::Parts parts = harness::splitInput(
      std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1), "\n##setup\n", 2);
  const std::string& bytes = parts.part[0];
  PriceReading reading;
  reading.allowJumps = (control & 1) != 0;
  if ((control & 2) != 0) reading.session = "date";
  if ((control & 4) != 0) reading.price = "open";
  const std::set<int> open = harness::openDescriptors();

  for (const std::string_view line : harness::linesOf(bytes)) {
    checkSessionKey(line);
    for (const std::string& field : splitFields(line, ',')) checkSessionKey(field);
  }

  const Outcome<PriceHistory> read = readPriceHistory(bytes, "prices.csv", reading);
  if (read.ok()) {
    checkAccepted(bytes, reading, read.value());
  } else {
    checkRefused(read.message(), bytes);
  }
  harness::writeFile("prices.csv", bytes);
  const Outcome<PriceHistory> loaded = loadPriceHistory("prices.csv", reading);
  FUZZ_CHECK(loaded.ok() == read.ok(), harness::printable(bytes));
  if (read.ok()) {
    FUZZ_CHECK(loaded.value().returns.size() == read.value().returns.size() &&
                   loaded.value().gaps.size() == read.value().gaps.size(),
               harness::printable(bytes));
  } else {
    FUZZ_CHECK(loaded.message() == read.message(), harness::printable(loaded.message()));
  }

  if (parts.present[1]) checkSettings(parts.part[1]);
  FUZZ_CHECK(harness::openDescriptors() == open, "a file left open");
  return 0;
}
