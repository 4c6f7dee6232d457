// vorp-cli --compare OLD.json NEW.json [--match method|threads|n]: the points
// of two JSON result documents side by side.
//
// The text opens with every value of the two "context" objects that differs
// (commit, compiler and flags, kernel form, --isa, reference library, CPU,
// environment, load, ...; the date and the command line aside). A point is
// identified by method, n, l_block and threads; --match lets one of method,
// threads or n differ, to compare two methods, a thread scaling or two orders.
// Each row shows both median durations, their ratio new/old and whether the
// two samples of durations differ by more than their noise (a two-sided
// Mann-Whitney U test at p < kCompareSignificance): "faster", "slower",
// "same", "too few runs" when the sample sizes cannot reach that p whatever
// the durations, or "no product". After the rows: the geometric mean of the
// ratios, which sizes a verdict needs, the noisy points (CV above kNoisyCv),
// pairings that were ambiguous and the points of one document only.
//
// Exit status (CompareOutcome::status):
//   0  compared, no point significantly slower
//   2  a file cannot be read or is not a result document (nothing compared)
//   3  compared, some point significantly slower
//   4  no point of one document pairs with a point of the other: the text
//      names the parameters whose values differ and the --match that pairs them
#pragma once

#include <cstddef>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "plan_options.h"

// Below this p the verdict is "faster" or "slower", otherwise "same".
constexpr double kCompareSignificance = 0.05;

constexpr int kCompareNoneSlower = 0;
constexpr int kCompareUnusable = 2;
constexpr int kCompareSlower = 3;
constexpr int kCompareNothingPaired = 4;

struct CompareOutcome {
    int status = kCompareNoneSlower;  // one of the exit statuses above
    std::string text;                 // the comparison (empty for kCompareUnusable)
    std::string error;  // kCompareUnusable: names the file (or document) and what is wrong
};

// Reads both files; kCompareUnusable when one cannot be read, is larger than
// any result document (64 MiB, which also ends endless input), is not JSON,
// is not a vorp-cli result document (schema_version 2 with a "results"
// array), or when memory runs out.
CompareOutcome CompareResultFiles(const std::string& old_path, const std::string& new_path,
                                  CompareMatch match = CompareMatch::Exact);

// The same on parsed documents, called "old document" and "new document".
CompareOutcome CompareResultDocuments(const nlohmann::json& old_doc, const nlohmann::json& new_doc,
                                      CompareMatch match = CompareMatch::Exact);
