// The outputs of multi-run work: the header line before each run's report,
// the progress line, the summary table, the list of runs with problems, and
// the CSV and JSON documents.
//
// CSV: a header row, then one row per point (method, n and threads; the
// reference row has the method "openblas" and no method_index); fields that
// hold a comma, quote or line break are quoted. Columns:
//   method,method_index,n,l_block,threads,chunk,isa,kernel,warmup,repeat,
//   completed,best_seconds,median_seconds,best_gflops,median_gflops,check,problems
// JSON: {"schema_version", "context": {...}, "results": [{...}, ...]}, each
// result holding the fields of the CSV row plus the counted durations.
#pragma once

#include <string>
#include <vector>

#include "plan_runner.h"
#include "run_context.h"
#include "run_results.h"

// "== run 3 of 10: hp, n 400, threads 2, counted run 1 of 3"
std::string FormatRunHeader(const RunProgress& progress);
// "run 3 of 10: hp, n 400, threads 2 (1.2 s elapsed)"
std::string FormatProgressLine(const RunProgress& progress, double elapsed_seconds);

// The table of one row per point: method, n, l_block, threads, best and median
// seconds and GFLOPS, check verdict and kernel form; then the problem list.
std::string FormatSummaryTable(const std::vector<PointResult>& results, std::int32_t warmup,
                               std::int32_t repeat);
// "Runs with a check failure or notice:" and one line per such run, or a line
// saying there was none.
std::string FormatProblems(const std::vector<PointResult>& results);

std::string FormatCsv(const std::vector<PointResult>& results, std::int32_t warmup,
                      std::int32_t repeat);
std::string FormatJson(const RunContext& context, const std::vector<PointResult>& results);
// "key: value" lines for standard error.
std::string FormatContextText(const RunContext& context);

std::string CsvField(const std::string& text);
