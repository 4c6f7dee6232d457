// vorp-cli --compare: pairing of points (also with --match), verdicts and
// the sample sizes they need, caveats, context differences, the geometric
// mean, exit statuses and rejected documents.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

#include <nlohmann/json.hpp>

#include "compare.h"
#include "statistics.h"

namespace {
using nlohmann::json;

json Point(const std::string& method, int n, int threads, const std::vector<double>& seconds,
           int l_block = 64) {
    json point = {{"method", method},   {"n", n},        {"l_block", l_block}, {"threads", threads},
                  {"seconds", seconds}, {"noisy", false}};
    point["median_seconds"] = seconds.empty() ? json(nullptr) : json(Median(seconds));
    return point;
}

json DocumentWith(std::vector<json> points, const json& context) {
    return {
        {"schema_version", 2}, {"context", context}, {"interrupted", false}, {"results", points}};
}

json Document(std::vector<json> points, const std::string& cpu = "AMD EPYC 9R45") {
    return DocumentWith(std::move(points), {{"cpu_model", cpu}});
}

std::string Compared(const json& old_doc, const json& new_doc,
                     CompareMatch match = CompareMatch::Exact) {
    const CompareOutcome outcome = CompareResultDocuments(old_doc, new_doc, match);
    EXPECT_TRUE(outcome.status == 0 || outcome.status == 3)
        << outcome.status << ": " << outcome.error << outcome.text;
    return outcome.text;
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// `count` distinct durations within 1 % of `centre`.
std::vector<double> Around(double centre, int count) {
    std::vector<double> seconds;
    for (int i = 0; i < count; ++i) seconds.push_back(centre * (1 + 0.002 * (i - count / 2)));
    return seconds;
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
            if (fields.size() == 9)
                fields.back() += " " + word;
            else
                fields.push_back(word);
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
    EXPECT_NE(text.find("  cpu_model: AMD EPYC 9R45 -> Intel Xeon\n"), std::string::npos) << text;
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

// CI tells a regression by the status: 3 once any point is slower, however
// many others are faster or the same; 0 otherwise.
TEST(Compare, ExitStatusIsThreeWhenAnyPointIsSlower) {
    const json old_doc = Document({Point("hp", 500, 1, kSlow), Point("classic", 500, 1, kFast),
                                   Point("block-cache", 500, 1, kSlow)});
    const CompareOutcome regressed = CompareResultDocuments(
        old_doc, Document({Point("hp", 500, 1, kFast), Point("classic", 500, 1, kSlow),
                           Point("block-cache", 500, 1, kSlow)}));
    EXPECT_EQ(regressed.status, 3);
    EXPECT_EQ(Row(regressed.text, "classic")[8], "slower");
    EXPECT_TRUE(Has(regressed.text, "Verdicts: 1 slower, 1 faster, 1 same\n")) << regressed.text;

    const CompareOutcome improved = CompareResultDocuments(
        old_doc, Document({Point("hp", 500, 1, kFast), Point("classic", 500, 1, kFast),
                           Point("block-cache", 500, 1, kSlow)}));
    EXPECT_EQ(improved.status, 0);
}

// No sample of 3 against 3 can reach p < 0.05 (its floor is 2/20), so even a
// twofold slowdown gets no verdict; the text says how many runs one needs,
// and the floor depends on both counts, not on the smaller alone.
TEST(Compare, SampleSizesThatCannotReachTheLevelAreTooFewRuns) {
    const json old_doc = Document(
        {Point("hp", 500, 1, Around(0.1, 3)), Point("classic", 500, 1, Around(0.1, 3)),
         Point("block-cache", 500, 1, Around(0.1, 2)), Point("vector-pack", 500, 1, Around(0.1, 2)),
         Point("block-pack-2x2", 500, 1, Around(0.1, 4))});
    const json new_doc = Document(
        {Point("hp", 500, 1, Around(0.2, 3)), Point("classic", 500, 1, Around(0.2, 5)),
         Point("block-cache", 500, 1, Around(0.2, 7)), Point("vector-pack", 500, 1, Around(0.2, 8)),
         Point("block-pack-2x2", 500, 1, Around(0.2, 4))});
    const CompareOutcome outcome = CompareResultDocuments(old_doc, new_doc);
    const std::string& text = outcome.text;
    const std::vector<std::string> hp = Row(text, "hp");
    EXPECT_EQ(hp[6], "2.000");
    EXPECT_EQ(hp[7], "-");
    EXPECT_EQ(hp[8], "too few runs");
    EXPECT_EQ(Row(text, "classic")[8], "slower");            // 3 against 5: 2/56
    EXPECT_EQ(Row(text, "block-cache")[8], "too few runs");  // 2 against 7: 2/36
    EXPECT_EQ(Row(text, "vector-pack")[8], "slower");        // 2 against 8: 2/45
    EXPECT_EQ(Row(text, "block-pack-2x2")[8], "slower");     // 4 against 4: 2/70
    EXPECT_EQ(outcome.status, 3);
    EXPECT_TRUE(Has(text, "which needs 4 or more runs a side\n")) << text;
    EXPECT_TRUE(Has(text,
                    "too few runs: a verdict needs 4 or more runs a side; p cannot go below\n"
                    "  0.056 with 2 old and 7 new runs (1 point)\n"
                    "  0.1 with 3 old and 3 new runs (1 point)\n"))
        << text;

    // Points without a verdict are not slower.
    const CompareOutcome scarce =
        CompareResultDocuments(Document({Point("hp", 500, 1, Around(0.1, 3))}),
                               Document({Point("hp", 500, 1, Around(0.2, 3))}));
    EXPECT_EQ(scarce.status, 0);
    EXPECT_TRUE(Has(scarce.text, "Verdicts: 1 too few runs\n")) << scarce.text;
}

// Above the noisy threshold (CV 5 %) on either side the point is named with
// both CVs, whatever its verdict; below it on both sides, nothing is said.
TEST(Compare, NoisySamplesAreNamedWithTheirCv) {
    const std::vector<double> six_percent = {0.94, 1.06, 1.00, 0.94, 1.06};   // CV 6.0 %
    const std::vector<double> four_percent = {0.96, 1.04, 1.00, 0.96, 1.04};  // CV 4.0 %
    const std::string text = Compared(
        Document({Point("hp", 400, 1, six_percent), Point("classic", 400, 1, four_percent),
                  Point("block-cache", 400, 1, four_percent)}),
        Document({Point("hp", 400, 1, four_percent), Point("classic", 400, 1, four_percent),
                  Point("block-cache", 400, 1, six_percent)}));
    EXPECT_TRUE(Has(text,
                    "noisy, CV above 5 % (the verdict may show the machine's load rather than "
                    "the change):\n"
                    "  hp n 400 l_block 64 threads 1: CV 6.0 % old, 4.0 % new\n"
                    "  block-cache n 400 l_block 64 threads 1: CV 4.0 % old, 6.0 % new\n"))
        << text;
    EXPECT_FALSE(Has(text, "classic n 400")) << text;

    const std::string quiet = Compared(Document({Point("hp", 400, 1, kSlow)}),
                                       Document({Point("hp", 400, 1, four_percent)}));
    EXPECT_FALSE(Has(quiet, "noisy")) << quiet;
}

// Every context value that differs is listed, nested ones by their path, a
// long one on two lines; the date and the command line, which always differ,
// are not.
TEST(Compare, HeaderListsEveryContextDifference) {
    const json old_context = {
        {"commit", "9a45d26"},
        {"date", "2024-05-01T12:00:00Z"},
        {"command", "vorp-cli --all"},
        {"cpu_model", "AMD EPYC 9R45"},
        {"isa", "AVX-512"},
        {"vector_kernel", "avx512 8x4"},
        {"compiler", "GNU 12.2.0"},
        {"compile_flags", "-O2"},
        {"build_flags", {{"Tavrel_8x4", {{"flags", "-O3 -mavx2"}, {"files", json::object()}}}}},
        {"reference", nullptr},
        {"environment", {{"OMP_PROC_BIND", "close"}}},
        {"load_average", {0.1, 0.2, 0.3}},
        {"threads", {1}}};
    json new_context = old_context;
    new_context["commit"] = "1b2c3d4-dirty";
    new_context["date"] = "2024-05-02T12:00:00Z";
    new_context["command"] = "vorp-cli --all --isa avx2";
    new_context["isa"] = "AVX+FMA3";
    new_context["vector_kernel"] = "avx 8x4";
    new_context["compile_flags"] = "-O2 " + std::string(90, 'x');
    new_context["build_flags"]["Tavrel_8x4"]["flags"] = "-O3 -mavx512f";
    new_context["reference"] = "OpenBLAS 0.3.21, its own kernel";
    new_context["environment"] = {{"OMP_NUM_THREADS", "2"}};
    new_context["load_average"] = {1.5, 0.2, 0.3};
    new_context["extra"] = {{"added", true}};

    const std::vector<json> points = {Point("hp", 400, 1, kSlow)};
    const std::string text =
        Compared(DocumentWith(points, old_context), DocumentWith(points, new_context));
    EXPECT_TRUE(Has(text,
                    "Context that differs, old -> new (date and command line aside):\n"
                    "  build_flags.Tavrel_8x4.flags: -O3 -mavx2 -> -O3 -mavx512f\n"
                    "  commit: 9a45d26 -> 1b2c3d4-dirty\n"
                    "  compile_flags:\n"
                    "    old: -O2\n"
                    "    new: -O2 " +
                        std::string(90, 'x') +
                        "\n"
                        "  environment.OMP_NUM_THREADS: absent -> 2\n"
                        "  environment.OMP_PROC_BIND: close -> absent\n"
                        "  extra.added: absent -> true\n"
                        "  isa: AVX-512 -> AVX+FMA3\n"
                        "  load_average: [0.1,0.2,0.3] -> [1.5,0.2,0.3]\n"
                        "  reference: none -> OpenBLAS 0.3.21, its own kernel\n"
                        "  vector_kernel: avx512 8x4 -> avx 8x4\n"
                        "Medians"))
        << text;

    const std::string same =
        Compared(DocumentWith(points, old_context), DocumentWith(points, old_context));
    EXPECT_TRUE(Has(same, "Context: the same (date and command line aside)\n")) << same;

    // Without a context on one side there is nothing to set beside the other's.
    json bare = DocumentWith(points, old_context);
    bare.erase("context");
    const std::string one_sided = Compared(bare, DocumentWith(points, old_context));
    EXPECT_TRUE(Has(one_sided, "Context: the old document has none\n")) << one_sided;
    EXPECT_FALSE(Has(one_sided, "commit")) << one_sided;
}

// --match lets one identifying parameter differ: a thread scaling, two
// methods on the same problem, or one method at two orders. The header says
// what pairs; points that differ in anything else stay unpaired.
TEST(Compare, MatchLetsOneParameterDiffer) {
    struct Case {
        CompareMatch match;
        json old_doc, new_doc;
        std::string header;
        std::vector<std::string> row;  // method, n, l_block, threads, new/old, verdict
        std::vector<std::string> unpaired;
    };
    const Case cases[] = {
        {CompareMatch::Threads,
         Document({Point("hp", 500, 1, kSlow), Point("classic", 500, 1, kSlow)}),
         Document({Point("hp", 500, 2, kFast), Point("block-cache", 500, 2, kFast)}),
         "Points paired on method, n and l_block; threads may differ (--match threads)\n",
         {"hp", "500", "64", "1->2", "0.495", "faster"},
         {"only in old: classic n 500 l_block 64 threads 1\n",
          "only in new: block-cache n 500 l_block 64 threads 2\n"}},
        {CompareMatch::Method,
         Document({Point("block-pack-2x2", 528, 1, kSlow, 176)}),
         Document(
             {Point("vector-pack", 528, 1, kFast, 176), Point("vector-pack", 528, 2, kFast, 176)}),
         "Points paired on n, l_block and threads; method may differ (--match method)\n",
         {"block-pack-2x2->vector-pack", "528", "176", "1", "0.495", "faster"},
         {"only in new: vector-pack n 528 l_block 176 threads 2\n"}},
        {CompareMatch::Order,
         Document({Point("hp", 880, 1, kFast)}),
         Document({Point("hp", 1936, 1, kSlow)}),
         "Points paired on method, l_block and threads; n may differ (--match n)\n",
         {"hp", "880->1936", "64", "1", "2.020", "slower"},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.header);
        const std::string text = Compared(c.old_doc, c.new_doc, c.match);
        EXPECT_TRUE(Has(text, c.header)) << text;
        const std::vector<std::string> row = Row(text, c.row[0]);
        EXPECT_EQ((std::vector<std::string>{row[0], row[1], row[2], row[3], row[6], row[8]}),
                  c.row);
        for (const std::string& line : c.unpaired) EXPECT_TRUE(Has(text, line)) << text;
        EXPECT_FALSE(Has(text, "ambiguous")) << text;
    }
}

// Several candidates a side: paired in document order, and said so.
TEST(Compare, SeveralCandidatesPairInDocumentOrder) {
    const std::string several = Compared(
        Document({Point("hp", 500, 1, kSlow), Point("hp", 500, 2, kSlow)}),
        Document({Point("hp", 500, 4, kSlow), Point("hp", 500, 8, kSlow)}), CompareMatch::Threads);
    EXPECT_TRUE(Has(several,
                    "ambiguous, several candidates, paired in document order:\n"
                    "  2 old and 2 new points with method hp, n 500, l_block 64\n"))
        << several;
    std::istringstream lines(several);
    std::vector<std::string> threads;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("hp ", 0) == 0) threads.push_back(Row(line, "hp")[3]);
    }
    EXPECT_EQ(threads, (std::vector<std::string>{"1->4", "2->8"}));
}

// The mean of ratios that weighs a halving and a doubling alike, over the
// points with a ratio; its inverse is the speed-up.
TEST(Compare, GeometricMeanOfTheRatiosFollowsTheRows) {
    const json old_doc =
        Document({Point("hp", 500, 1, Around(0.1, 5)), Point("classic", 500, 1, Around(0.1, 5)),
                  Point("block-cache", 500, 1, Around(0.1, 5)),
                  Point("vector-pack", 500, 1, Around(0.1, 5))});
    const json new_doc =
        Document({Point("hp", 500, 1, Around(0.05, 5)), Point("classic", 500, 1, Around(0.2, 5)),
                  Point("block-cache", 500, 1, Around(0.4, 5)), Point("vector-pack", 500, 1, {})});
    const CompareOutcome outcome = CompareResultDocuments(old_doc, new_doc);
    // 0.5 x 2 x 4 = 4, and the cube root of 4 is 1.587 (the plain mean would be 2.167).
    EXPECT_TRUE(
        Has(outcome.text, "Geometric mean of new/old over 3 points: 1.587 (speed-up 0.630x)\n"))
        << outcome.text;
    EXPECT_EQ(outcome.status, 3);

    const std::string one =
        Compared(Document({Point("hp", 500, 1, kSlow)}), Document({Point("hp", 500, 1, kFast)}));
    EXPECT_TRUE(Has(one, "Geometric mean of new/old over 1 point: 0.495 (speed-up 2.020x)\n"))
        << one;
}

// Documents without a common point are not a success: status 4, the values
// that differ, and the --match that would pair them.
TEST(Compare, NoCommonPointGivesStatusFourAndSuggestsMatch) {
    const json old_doc =
        Document({Point("hp", 500, 1, kSlow), Point("block-cache", 500, 1, kSlow)});
    const json new_doc =
        Document({Point("hp", 500, 2, kSlow), Point("block-cache", 500, 2, kSlow)});
    const CompareOutcome outcome = CompareResultDocuments(old_doc, new_doc);
    EXPECT_EQ(outcome.status, 4);
    EXPECT_TRUE(Has(outcome.text,
                    "No point is in both documents.\nThe values that differ:\n"
                    "  threads: old 1; new 2\nTry --match threads (pairs 2 points).\n"))
        << outcome.text;
    EXPECT_FALSE(Has(outcome.text, "Verdicts")) << outcome.text;
    EXPECT_TRUE(Has(outcome.text, "only in old: hp n 500 l_block 64 threads 1\n"));

    // Several parameters apart: no --match helps, and the status says so too.
    const CompareOutcome apart =
        CompareResultDocuments(Document({Point("hp", 500, 1, kSlow)}),
                               Document({Point("classic", 400, 2, kSlow)}), CompareMatch::Threads);
    EXPECT_EQ(apart.status, 4);
    EXPECT_TRUE(Has(apart.text,
                    "No point is in both documents, even with --match threads.\n"
                    "The values that differ:\n  method: old hp; new classic\n"
                    "  n: old 500; new 400\n"
                    "  threads: old 1; new 2\nNo --match pairs them"))
        << apart.text;

    // An empty document pairs with nothing, and the text says which is empty.
    const CompareOutcome empty =
        CompareResultDocuments(Document({Point("hp", 500, 1, kSlow)}), Document({}));
    EXPECT_EQ(empty.status, 4);
    EXPECT_TRUE(
        Has(empty.text, "No point is in both documents.\nThe new document holds no point.\n"))
        << empty.text;
}

TEST(Compare, OverlappingSamplesOrNoProductGiveNoDirection) {
    const json old_doc = Document({Point("hp", 400, 1, {0.100, 0.104, 0.098, 0.102, 0.101}),
                                   Point("vector-pack", 400, 1, kSlow)});
    const json new_doc = Document({Point("hp", 400, 1, {0.101, 0.099, 0.103, 0.100, 0.102}),
                                   Point("vector-pack", 400, 1, {})});
    const std::string text = Compared(old_doc, new_doc);
    EXPECT_EQ(Row(text, "hp")[8], "same");

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
    EXPECT_EQ(
        error_for(old_schema),
        "new document: not a vorp-cli result document: its schema_version is 1, expected 2 to 3");
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

TEST(Compare, FilesThatCannotBeComparedAreNamedInTheError) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                      ("vorp_compare_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string good = (dir / "good.json").string();
    const std::string garbled = (dir / "garbled.json").string();
    std::ofstream(good) << Document({Point("hp", 400, 1, kSlow)}).dump();
    std::ofstream(garbled) << "{\"schema_version\": 2,";
    const std::string missing = (dir / "missing.json").string();

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
