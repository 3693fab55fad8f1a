#include "runs/batch_file.h"

#include <algorithm>

#include "runs/batch_rows.h"
#include "runs/request_from_settings.h"
#include "text/input_stream.h"
#include "text/line_reader.h"

namespace empricer {

// The header into a buffer of its own, then every data row through one buffer, as the run
// has always read them; a line longer than a read is read in pieces, each a row.
BatchFile readBatch(InputStream& stream, const RunSettings& settings) {
  BatchFile batch;
  batch.rows.common = requestFromSettings(settings);
  LineBuffer header{};
  readLine(stream, header);
  std::int64_t line = 1;
  bool continues = header.length == kMaxLineCharacters;  // the last read stopped inside its line
  LineBuffer read{};
  while (!stream.endOfFile) {
    readLine(stream, read);
    if (!continues) ++line;
    continues = read.length == kMaxLineCharacters;
    if (isEmptyLine(read)) continue;
    const BatchRow row = readBatchRow(read, settings);
    batch.rows.rows.push_back(
        {row.request.spot, row.request.strike, row.request.days, row.valued, MarketQuote{}});
    batch.lines.push_back(line);
  }
  batch.rows.end = batch.rows.rows.size();
  return batch;
}

BatchFile batchOfText(const std::string& text, const RunSettings& settings) {
  InputStream stream;
  openFromMemory(stream, text.data(), text.size());
  BatchFile batch = readBatch(stream, settings);
  closeStream(stream);
  return batch;
}

void chooseRange(BatchFile& batch, const RowRange& shard) {
  const auto count = static_cast<std::int64_t>(batch.rows.rows.size());
  batch.rows.first = static_cast<std::size_t>(std::min(shard.first - 1, count));
  batch.rows.end = static_cast<std::size_t>(std::max<std::int64_t>(
      static_cast<std::int64_t>(batch.rows.first), std::min(shard.last, count)));
}

}  // namespace empricer
