// vorp-cli --compare OLD.json NEW.json: the points of two JSON result
// documents side by side. A point is identified by method, n, l_block and
// threads; each row shows both median durations, their ratio new/old and
// whether the two samples of durations differ by more than their noise (a
// two-sided Mann-Whitney U test).
#pragma once

#include <cstddef>
#include <string>

#include <nlohmann/json_fwd.hpp>

// Below this p the verdict is "faster" or "slower", otherwise "same".
constexpr double kCompareSignificance = 0.05;
// Fewer durations than this on either side give "too few runs".
constexpr std::size_t kCompareMinimumRuns = 3;

struct CompareOutcome {
    int status = 0;     // 0: compared, `text` holds the table; 2: a document is unusable
    std::string text;
    std::string error;  // names the file (or document) and what is wrong with it
};

// Reads both files; status 2 when one cannot be read, is not JSON or is not a
// vorp-cli result document (schema_version 2 with a "results" array).
CompareOutcome CompareResultFiles(const std::string& old_path, const std::string& new_path);

// The same on parsed documents, called "old document" and "new document".
CompareOutcome CompareResultDocuments(const nlohmann::json& old_doc, const nlohmann::json& new_doc);
