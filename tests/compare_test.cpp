// vorp-cli --compare: pairing of points, verdicts and rejected documents.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include <unistd.h>

#include <nlohmann/json.hpp>

#include "compare.h"
#include "statistics.h"

namespace {
using nlohmann::json;

json Point(const std::string& method, int n, int threads, const std::vector<double>& seconds,
           int l_block = 64) {
    json point = {{"method", method}, {"n", n},         {"l_block", l_block},
                  {"threads", threads}, {"seconds", seconds}, {"noisy", false}};
    point["median_seconds"] = seconds.empty() ? json(nullptr) : json(Median(seconds));
    return point;
}

json Document(std::vector<json> points, const std::string& cpu = "AMD EPYC 9R45") {
    return {{"schema_version", 2},
            {"context", {{"cpu_model", cpu}}},
            {"interrupted", false},
            {"results", points}};
}

std::string Compared(const json& old_doc, const json& new_doc) {
    const CompareOutcome outcome = CompareResultDocuments(old_doc, new_doc);
    EXPECT_EQ(outcome.status, 0) << outcome.error;
    return outcome.text;
}

// The whitespace-separated fields of the row that starts with `method`; the
// verdict's words are joined into the last field.
std::vector<std::string> Row(const std::string& text, const std::string& method) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(method + " ", 0) != 0) continue;
        std::istringstream words(line);
        std::vector<std::string> fields;
        for (std::string word; words >> word;) {
            if (fields.size() == 9) fields.back() += " " + word; else fields.push_back(word);
        }
        return fields;
    }
    ADD_FAILURE() << "no row for " << method << " in\n" << text;
    return std::vector<std::string>(9);
}

const std::vector<double> kSlow = {0.100, 0.102, 0.101, 0.103, 0.099};
const std::vector<double> kFast = {0.050, 0.051, 0.052, 0.049, 0.048};
}  // namespace

TEST(Compare, PairsPointsByMethodOrderBlockAndThreads) {
    const json old_doc = Document({Point("vector-pack", 1936, 2, kSlow), Point("hp", 500, 1, kSlow),
                                   Point("classic", 300, 1, kSlow, 64)});
    const json new_doc = Document({Point("hp", 500, 2, kSlow), Point("classic", 300, 1, kSlow, 32),
                                   Point("vector-pack", 1936, 2, kSlow)},
                                  "Intel Xeon");
    const std::string text = Compared(old_doc, new_doc);
    EXPECT_NE(text.find("old: old document\nnew: new document\n"), std::string::npos) << text;
    EXPECT_NE(text.find("cpu: old AMD EPYC 9R45, new Intel Xeon\n"), std::string::npos) << text;
    const std::vector<std::string> row = Row(text, "vector-pack");
    EXPECT_EQ(row[1], "1936");
    EXPECT_EQ(row[2], "64");
    EXPECT_EQ(row[3], "2");
    EXPECT_EQ(row[6], "1.000");
    EXPECT_EQ(row[8], "same");
    EXPECT_NE(text.find("only in old: hp n 500 l_block 64 threads 1\n"), std::string::npos);
    EXPECT_NE(text.find("only in old: classic n 300 l_block 64 threads 1\n"), std::string::npos);
    EXPECT_NE(text.find("only in new: hp n 500 l_block 64 threads 2\n"), std::string::npos);
    EXPECT_NE(text.find("only in new: classic n 300 l_block 32 threads 1\n"), std::string::npos);

    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 100u) << line;

    const std::string same_cpu = Compared(old_doc, Document({}));
    EXPECT_EQ(same_cpu.find("cpu:"), std::string::npos);
    EXPECT_NE(same_cpu.find("No point is in both documents."), std::string::npos);
}

TEST(Compare, SeparatedSamplesAreFasterOrSlowerWithTheRatioOfMedians) {
    const std::vector<std::string> faster =
        Row(Compared(Document({Point("block-cache", 800, 1, kSlow)}),
                     Document({Point("block-cache", 800, 1, kFast)})),
            "block-cache");
    EXPECT_EQ(faster[4], "0.101");
    EXPECT_EQ(faster[5], "0.05");
    EXPECT_EQ(faster[6], "0.495");
    EXPECT_EQ(faster[7], "0.008");  // exact p of 5 against 5, fully separated: 2/252
    EXPECT_EQ(faster[8], "faster");

    const std::vector<std::string> slower =
        Row(Compared(Document({Point("block-cache", 800, 1, kFast)}),
                     Document({Point("block-cache", 800, 1, kSlow)})),
            "block-cache");
    EXPECT_EQ(slower[6], "2.020");
    EXPECT_EQ(slower[8], "slower");
}

TEST(Compare, OverlappingOrScarceSamplesGiveNoDirection) {
    const json old_doc = Document({Point("hp", 400, 1, {0.100, 0.104, 0.098, 0.102, 0.101}),
                                   Point("classic", 400, 1, kSlow),
                                   Point("vector-pack", 400, 1, kSlow)});
    const json new_doc = Document({Point("hp", 400, 1, {0.101, 0.099, 0.103, 0.100, 0.102}),
                                   Point("classic", 400, 1, {0.050, 0.051}),
                                   Point("vector-pack", 400, 1, {})});
    const std::string text = Compared(old_doc, new_doc);
    EXPECT_EQ(Row(text, "hp")[8], "same");

    const std::vector<std::string> scarce = Row(text, "classic");
    EXPECT_EQ(scarce[6], "0.500");
    EXPECT_EQ(scarce[7], "-");
    EXPECT_EQ(scarce[8], "too few runs");

    const std::vector<std::string> no_product = Row(text, "vector-pack");
    EXPECT_EQ(no_product[4], "0.101");
    EXPECT_EQ(no_product[5], "-");
    EXPECT_EQ(no_product[6], "-");
    EXPECT_EQ(no_product[8], "no product");
}

TEST(Compare, RejectsDocumentsThatAreNotResults) {
    const json good = Document({Point("hp", 400, 1, kSlow)});
    const auto error_for = [&](const json& bad) {
        const CompareOutcome outcome = CompareResultDocuments(good, bad);
        EXPECT_EQ(outcome.status, 2);
        EXPECT_EQ(outcome.text, "");
        return outcome.error;
    };
    json old_schema = good;
    old_schema["schema_version"] = 1;
    EXPECT_EQ(error_for(old_schema),
              "new document: not a vorp-cli result document: its schema_version is 1, expected 2");
    json no_results = good;
    no_results.erase("results");
    EXPECT_NE(error_for(no_results).find("no \"results\" array"), std::string::npos);
    json no_order = good;
    no_order["results"][0].erase("n");
    EXPECT_NE(error_for(no_order).find("results[0]: \"n\" is missing"), std::string::npos);
    EXPECT_NE(error_for(json::array()).find("not a JSON object"), std::string::npos);

    const CompareOutcome old_bad = CompareResultDocuments(old_schema, good);
    EXPECT_EQ(old_bad.error.rfind("old document: ", 0), 0u) << old_bad.error;
}

TEST(Compare, FilesAreNamedInTheHeaderAndInErrors) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                      ("vorp_compare_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string good = (dir / "good.json").string();
    const std::string garbled = (dir / "garbled.json").string();
    std::ofstream(good) << Document({Point("hp", 400, 1, kSlow)}).dump();
    std::ofstream(garbled) << "{\"schema_version\": 2,";
    const std::string missing = (dir / "missing.json").string();

    const CompareOutcome compared = CompareResultFiles(good, good);
    EXPECT_EQ(compared.status, 0) << compared.error;
    EXPECT_EQ(compared.text.rfind("old: " + good + "\nnew: " + good + "\n", 0), 0u);

    const CompareOutcome absent = CompareResultFiles(good, missing);
    EXPECT_EQ(absent.status, 2);
    EXPECT_EQ(absent.error, "cannot read " + missing + ": No such file or directory");

    const CompareOutcome not_json = CompareResultFiles(garbled, good);
    EXPECT_EQ(not_json.status, 2);
    EXPECT_EQ(not_json.error.rfind(garbled + ": not JSON: ", 0), 0u) << not_json.error;

    const CompareOutcome directory = CompareResultFiles(dir.string(), good);
    EXPECT_EQ(directory.status, 2);
    EXPECT_EQ(directory.error.rfind("cannot read " + dir.string(), 0), 0u) << directory.error;
    std::filesystem::remove_all(dir);
}
