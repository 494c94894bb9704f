#include "bench_targets.h"

#include <unistd.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

namespace brisk::bench {
namespace {

constexpr const char* kTargetCounter = "target_ns";
constexpr const char* kInfoPrefix = "info: ";

double NanosecondsPer(benchmark::TimeUnit unit) {
    switch (unit) {
        case benchmark::kNanosecond:
            return 1.0;
        case benchmark::kMicrosecond:
            return 1e3;
        case benchmark::kMillisecond:
            return 1e6;
        case benchmark::kSecond:
            return 1e9;
    }
    return 1.0;
}

// "50 ns", "2 us", "20 us": the target in the unit a reader expects.
std::string Duration(double ns) {
    char text[32];
    if (ns >= 1e3) {
        std::snprintf(text, sizeof text, "%.4g us", ns / 1e3);
    } else {
        std::snprintf(text, sizeof text, "%.4g ns", ns);
    }
    return text;
}

struct Verdict {
    std::string name;
    double cpuNs = 0;
    double targetNs = 0;  // 0: a figure for information
    std::string note;
    std::string basis;
};

// The usual table, then one verdict per benchmark: from the median when the
// runs were repeated, from the single run otherwise.
class TargetReporter : public benchmark::ConsoleReporter {
  public:
    explicit TargetReporter(OutputOptions options) : ConsoleReporter(options) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) {
                ++errors;
                continue;
            }
            const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            auto target = run.counters.find(kTargetCounter);
            const bool info = run.report_label.rfind(kInfoPrefix, 0) == 0;
            if ((!single && !median) || (target == run.counters.end() && !info)) {
                continue;
            }
            Verdict v;
            v.name = run.run_name.str();
            v.cpuNs = run.GetAdjustedCPUTime() * NanosecondsPer(run.time_unit);
            if (info) {
                v.note = run.report_label.substr(std::string(kInfoPrefix).size());
            } else {
                v.targetNs = target->second.value;
            }
            v.basis = median ? "median of " + std::to_string(run.repetitions) : "one run";
            Print(v);
            verdicts.push_back(v);
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        int met = 0, missed = 0;
        for (const Verdict& v : verdicts) {
            if (v.targetNs > 0) {
                (v.cpuNs <= v.targetNs ? met : missed) += 1;
            }
        }
        char line[128];
        std::snprintf(line, sizeof line, "TARGETS: %d met, %d not met, %d failed to run\n", met,
                      missed, errors);
        GetOutputStream() << line << std::flush;
    }

    int Errors() const { return errors; }

  private:
    void Print(const Verdict& v) {
        char line[320];
        if (v.targetNs > 0) {
            std::snprintf(line, sizeof line,
                          "TARGET %s: %s CPU per iteration (%s), target <= %s: %s\n",
                          v.name.c_str(), Duration(v.cpuNs).c_str(), v.basis.c_str(),
                          Duration(v.targetNs).c_str(), v.cpuNs <= v.targetNs ? "met" : "NOT MET");
        } else {
            std::snprintf(line, sizeof line, "INFO %s: %s CPU per iteration (%s), %s\n",
                          v.name.c_str(), Duration(v.cpuNs).c_str(), v.basis.c_str(),
                          v.note.c_str());
        }
        GetOutputStream() << line << std::flush;
    }

    std::vector<Verdict> verdicts;
    int errors = 0;
};

}  // namespace

void SetTarget(benchmark::State& state, double targetNs) {
    state.SetLabel("target <= " + Duration(targetNs));
    state.counters[kTargetCounter] = targetNs;
}

void SetInfo(benchmark::State& state, const std::string& note) {
    state.SetLabel(kInfoPrefix + note);
}

int RunWithTargets(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    // Colours only on a terminal: scripts/bench keeps a plain transcript.
    TargetReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_ColorTabular
                                                  : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return reporter.Errors() > 0 ? 1 : 0;
}

}  // namespace brisk::bench
