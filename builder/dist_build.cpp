#include "builder/dist_build.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <system_error>

#include "builder/dist_report.h"
#include "builder/output_files.h"
#include "builder/price_history.h"
#include "builder/quantile_targets.h"
#include "builder/svg_picture.h"
#include "builder/table_fit.h"
#include "builder/table_text.h"
#include "engine/return_table.h"

namespace {

BuildEnd unusable(std::string message) {
  return {BuildEnd::Kind::unusable, "", std::move(message)};
}
BuildEnd unwritable(std::string message) {
  return {BuildEnd::Kind::unwritable, "", std::move(message)};
}

bool exists(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::symlink_status(path, ignored).type() !=
         std::filesystem::file_type::not_found;
}

}  // namespace

BuildEnd buildDistribution(const DistOptions& options) {
  if (!options.force) {
    for (const std::optional<std::string>& output : {std::optional(options.out), options.plot}) {
      if (output && exists(*output)) {
        return unusable(*output + ": exists; use --force to overwrite it");
      }
    }
  }
  Outcome<PriceHistory> loaded =
      loadPriceHistory(options.prices, PriceColumns{options.column, options.session});
  if (!loaded.ok()) return unusable(loaded.message());
  PriceHistory& history = loaded.value();

  DistFigures figures;
  figures.pricesFile = options.prices;
  figures.priceColumn = history.priceColumn;
  figures.sessionColumn = options.session.value_or("");
  figures.priceCount = history.priceCount;
  figures.sessionCount = history.sessionCount;
  figures.returnCount = static_cast<std::int64_t>(history.returns.size());
  figures.maxRows = options.maxRows;
  figures.tableFile = options.out;
  figures.data = momentsOf(history.returns.data(), history.returns.size());

  std::vector<double> sorted = std::move(history.returns);
  std::sort(sorted.begin(), sorted.end());
  const std::vector<double> targets =
      quantileTargets(sorted, figures.data.mean, figures.data.standardDeviation);
  const TableFit fit =
      fitTable(targets, kToleranceShare * figures.data.standardDeviation, options.maxRows);
  figures.rows = static_cast<int>(fit.rows.size());

  // The table as the valuation will read it: from the file written, through its own loader.
  // Every file written goes when `outputs` does, unless it took its name.
  PendingOutputs outputs;
  Outcome<std::string> tableFile = outputs.writeBeside(options.out, tableText(fit.rows));
  if (!tableFile.ok()) return unwritable(tableFile.message());
  auto table = std::make_unique<ReturnTable>();
  Status check = loadReturnTable(*table, tableFile.value().c_str());
  if (check.ok()) check = checkTableHolds(*table, fit.rows, options.out);
  if (!check.ok()) return unwritable(check.message());
  const std::vector<double> draws = drawsOf(*table);
  figures.table = momentsOf(draws.data(), draws.size());

  if (options.plot) {
    Outcome<std::string> written = outputs.writeBeside(
        *options.plot, svgPicture(options.prices, sorted, draws, figures.rows));
    if (!written.ok()) return unwritable(written.message());
  }
  // An output that appeared since the start counts as one that cannot be written.
  const Status moved = outputs.moveIntoPlace(options.force);
  if (!moved.ok()) return unwritable(moved.message());
  return {BuildEnd::Kind::written, reportText(figures),
          meetsBounds(figures) ? "" : boundsWarning(figures)};
}
