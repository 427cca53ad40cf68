// The summary of one ./dev bench run: reads the Google Benchmark JSON files of the run and
// prints, for each comparison of the table below, the project's figure, the baseline's
// figure, their ratio and the goal, then one line per comparison that misses its goal.
// Every figure is the median of the run's repetitions (or its single measurement).
// Exit status: 0, or 1 when a result is missing from the files.
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

// How a comparison reads its two figures and what its goal asks.
enum class Ratio {
    kShare,       // project / baseline of throughputs, in percent, at least the goal
    kTimeShare,   // baseline / project of times (the same share of throughput), at least the goal
    kFaster,      // project / baseline of throughputs, as a factor, at least the goal
    kAtMostTime,  // project / baseline of times, as a factor, at most the goal
    kAtMostMore,  // project - baseline of times: what the project adds, at most the goal
};

struct Comparison {
    const char* work;
    const char* project;   // run name of the project's benchmark
    const char* baseline;  // run name of the baseline's
    const char* figure;    // "bytes_per_second", "real_time", "cpu_time" or a counter's name
    Ratio ratio;
    double goal;
    const char* unit;                     // how the figures are shown
    const char* baselineFigure = nullptr;  // the baseline's figure when it differs from `figure`
};

// The table of goals: one row per comparison.
const Comparison kComparisons[] = {
    {"UTF-8 -> UTF-16, ASCII, vs std::copy", "BM_Utf8ToUtf16_Ascii", "BM_CopyWiden_Ascii", "bytes_per_second",
     Ratio::kShare, 25, "MB/s"},
    {"UTF-16 -> UTF-8, ASCII, vs std::copy", "BM_Utf16ToUtf8_Ascii", "BM_CopyNarrow_Ascii", "bytes_per_second",
     Ratio::kShare, 25, "MB/s"},
    {"Writer, 50 KB envelope, vs hand-written generator", "BM_Writer", "BM_HandWritten", "bytes_per_second",
     Ratio::kShare, 60, "MB/s"},
    {"Announcement build + serialise vs generator", "BM_AnnouncementBuildAndSerialize", "BM_HandWrittenGenerator",
     "bytes_per_second", Ratio::kShare, 40, "MB/s"},
    {"Writer vs Xerces DOMLSSerializer", "BM_Writer", "BM_DomLsSerializer", "bytes_per_second", Ratio::kFaster, 10,
     "MB/s"},
    {"Parse + deserialize 50 KB reply vs bare XercesDOMParser", "BM_CmlParserEnvelope", "BM_BareXercesParse",
     "real_time", Ratio::kAtMostTime, 1.2, "us"},
    {"Resident set after 100k parses vs bare Xerces", "BM_ResidentAfterParses/iterations:1",
     "BM_ResidentAfterParses/iterations:1", "cml_rss_kib", Ratio::kAtMostTime, 1.2, "KiB", "xerces_rss_kib"},
    {"SCS_PostData vs bare libcurl loop", "BM_ScsPostData/real_time", "BM_BareCurlPost/real_time", "real_time",
     Ratio::kTimeShare, 95, "us"},
    {"End-to-end heartbeats vs bare libcurl posts", "LibraryPostHeartbeat/synchronous/real_time",
     "BareCurlPost/same_bytes/real_time", "heartbeats/s", Ratio::kShare, 75, "1/s"},
    // The CPU of the posting thread beyond what libcurl spends on the same post in the bare
    // loop: building, serialising, parsing and dispatching.
    {"Library CPU per end-to-end heartbeat beyond libcurl's", "LibraryPostHeartbeat/synchronous/real_time",
     "BareCurlPost/same_bytes/real_time", "cpu_time", Ratio::kAtMostMore, 100, "us"},
};

// One figure of every benchmark run, by run name and figure name; times in microseconds.
using Results = std::map<std::string, std::map<std::string, double>>;

double Microseconds(double value, const std::string& unit) {
    if (unit == "ns") return value / 1e3;
    if (unit == "ms") return value * 1e3;
    if (unit == "s") return value * 1e6;
    return value;
}

// Reads the medians (or single measurements) of one JSON file into `results`.
bool ReadFile(const char* path, Results& results) {
    std::ifstream in(path);
    nlohmann::json document = nlohmann::json::parse(in, nullptr, false);
    if (document.is_discarded() || !document.contains("benchmarks")) return false;
    for (const nlohmann::json& entry : document["benchmarks"]) {
        const bool aggregate = entry.value("run_type", "") == "aggregate";
        if (aggregate && entry.value("aggregate_name", "") != "median") continue;
        const std::string name = entry.value("run_name", entry.value("name", ""));
        // A median beats a single measurement of the same run.
        if (!aggregate && results.count(name) && results[name].count("median")) continue;
        std::map<std::string, double>& figures = results[name];
        if (aggregate) figures["median"] = 1;
        const std::string unit = entry.value("time_unit", "ns");
        for (auto member = entry.begin(); member != entry.end(); ++member) {
            if (!member->is_number()) continue;
            const bool time = member.key() == "real_time" || member.key() == "cpu_time";
            figures[member.key()] = time ? Microseconds(member->get<double>(), unit) : member->get<double>();
        }
    }
    return true;
}

std::optional<double> Figure(const Results& results, const std::string& run, const std::string& figure) {
    const auto found = results.find(run);
    if (found == results.end()) return std::nullopt;
    const auto value = found->second.find(figure);
    if (value == found->second.end()) return std::nullopt;
    return figure == "bytes_per_second" ? value->second / 1e6 : value->second;
}

// A comparison's ratio (or, for kAtMostMore, the difference), how it is shown and which
// side of the goal meets it.
struct Reading {
    double value;
    std::string suffix;
    bool atLeast;
};

Reading Read(const Comparison& row, double project, double baseline) {
    switch (row.ratio) {
        case Ratio::kShare: return {100 * project / baseline, " %", true};
        case Ratio::kTimeShare: return {100 * baseline / project, " %", true};
        case Ratio::kFaster: return {project / baseline, "x", true};
        case Ratio::kAtMostTime: return {project / baseline, "x", false};
        case Ratio::kAtMostMore: break;
    }
    return {project - baseline, std::string(" ") + row.unit, false};
}

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, std::fabs(value) >= 100 ? "%.0f" : "%.2f", value);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    Results results;
    for (int i = 1; i < argc; ++i) {
        if (!ReadFile(argv[i], results)) std::fprintf(stderr, "bench_summary: cannot read %s\n", argv[i]);
    }
    std::vector<std::string> missed;
    bool complete = true;
    std::printf("\n%-56s %14s %14s %10s %10s\n", "Work", "Project", "Baseline", "Ratio", "Goal");
    for (const Comparison& row : kComparisons) {
        const std::optional<double> project = Figure(results, row.project, row.figure);
        const char* baselineFigure = row.baselineFigure ? row.baselineFigure : row.figure;
        const std::optional<double> baseline = Figure(results, row.baseline, baselineFigure);
        if (!project || !baseline) {
            std::printf("%-56s %14s\n", row.work, "no result");
            missed.push_back(std::string(row.work) + ": no result");
            complete = false;
            continue;
        }
        const Reading reading = Read(row, *project, *baseline);
        const bool met = reading.atLeast ? reading.value >= row.goal : reading.value <= row.goal;
        const std::string reached = Number(reading.value) + reading.suffix;
        const std::string goal = (reading.atLeast ? ">= " : "<= ") + Number(row.goal) + reading.suffix;
        const std::string baselineText = Number(*baseline) + " " + row.unit;
        std::printf("%-56s %14s %14s %10s %10s\n", row.work, (Number(*project) + " " + row.unit).c_str(),
                    baselineText.c_str(), reached.c_str(), goal.c_str());
        if (!met) missed.push_back(std::string(row.work) + ": " + reached + ", goal " + goal);
    }
    std::printf("\n");
    for (const std::string& line : missed) std::printf("MISSED %s\n", line.c_str());
    if (missed.empty()) std::printf("Every goal is met.\n");
    return complete ? 0 : 1;
}
