// The outputs of multi-run work: the header line before each shown report,
// the progress line, the summary table, the list of runs with problems, and
// the CSV and JSON documents. Figures are GFLOPS from the fine clock.
//
// CSV: a header row, then one row per point (method, n and threads; the
// reference row has the method "openblas" and no method_index); fields that
// hold a comma, quote or line break are quoted. Columns: see kCsvColumns.
// Seconds are per product; best is the fastest sample; empty fields where a
// point has no figure.
// JSON: {"schema_version", "context": {...}, "interrupted", "results": [...]},
// each result holding the fields of the CSV row plus the per-sample seconds.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "plan_runner.h"
#include "run_context.h"
#include "run_results.h"

// "== point 3 of 10: hp, n 400, l_block 176, threads 2, sample 1 (8 runs)"
std::string FormatRunHeader(const RunProgress& progress);
// "point 3 of 10: hp, n 400, l_block 176, threads 2, sample 1 (8 runs) (1.2 s elapsed)"
std::string FormatProgressLine(const RunProgress& progress, double elapsed_seconds);

// "check: passed (largest relative difference 3.1e-17)", or nothing when the
// run had no check.
std::string FormatCheckLine(const RunRecord& run);

// What standard error adds after a single plain run that gave a product:
// that it was one cold product, the fine clock's time and GFLOPS, and how
// coarse the report's millisecond tick is when DURATION is under 100 ticks
// ("47 ms on a 1 ms tick: ±2 %").
std::vector<std::string> SingleRunNotes(const RunRecord& run);

// The table of one row per point (at most 100 columns; 107 with a reference
// row, whose ratio takes a column), the kernels that ran, the flags'
// meaning, then the problem list.
// With limits, a peak% column gives each point's share of its peak.
std::string FormatSummaryTable(const std::vector<PointResult>& results,
                               const MachineLimits* limits = nullptr);
// The same summary as a Markdown table, to paste into an issue or a report,
// with the context below it in a collapsed block.
std::string FormatMarkdownSummary(const RunContext& context,
                                  const std::vector<PointResult>& results);
// "Runs without a figure, with a notice or a check failure:" and one line per
// such run (consecutive runs with the same problem as one line), or a line
// saying there was none.
std::string FormatProblems(const std::vector<PointResult>& results);

extern const std::vector<std::string> kCsvColumns;
std::string FormatCsvHeader();
std::string FormatCsvRow(const PointResult& point, std::int32_t warmup, std::int32_t repeat,
                         const MachineLimits* limits = nullptr);

// With limits, the point's peak and share; for methods 0 and 1 also the
// bandwidth bound, given the last-level cache (0: unknown).
nlohmann::json ResultJson(const PointResult& point, std::int32_t warmup, std::int32_t repeat,
                          const MachineLimits* limits = nullptr,
                          std::uint64_t last_level_cache_bytes = 0);
std::string FormatJson(const RunContext& context, const std::vector<PointResult>& results,
                       bool interrupted);

std::string CsvField(const std::string& text);
