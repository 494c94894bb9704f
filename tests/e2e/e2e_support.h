// What the end-to-end tests share: running brisk-sim and brisk, scenario
// files, and reading the tool's lines back.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "support/present_result.h"
#include "support/subprocess.h"

namespace brisk::e2e {

using test::Describe;
using test::PresentResult;
using test::RunOptions;
using test::RunProgram;
using test::RunResult;
using test::TimedLine;

// Paths of the programs under test, from the build.
const char* BriskSimPath();
const char* BriskPath();

// A file under the test's temporary folder, named after the running test so
// that cases run in parallel never share one; removed when it goes.
class TempFile {
  public:
    explicit TempFile(const std::string& suffix);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const std::string& Path() const { return path; }
    void Write(const std::string& text) const;

  private:
    std::string path;
};

// brisk-sim [simArgs...] [--scenario FILE] [--] toolArgs... with the given
// scenario text (none when empty).
RunResult RunSim(const std::string& scenario, const std::vector<std::string>& toolArgs,
                 const RunOptions& options = {}, const std::vector<std::string>& simArgs = {});

std::vector<std::string> Texts(const std::vector<TimedLine>& lines);
int Count(const std::vector<TimedLine>& lines, const std::string& exact);
// Index of the first line equal to `exact`, or -1.
int IndexOf(const std::vector<TimedLine>& lines, const std::string& exact);
// Index of the first line starting with `prefix`, or -1.
int IndexOfPrefix(const std::vector<TimedLine>& lines, const std::string& prefix);

// One status line, taken apart.
struct StatusLine {
    double seconds = 0.0;  // arrival
    int index = 0;         // in stdout
    double fps = 0.0;
    bool fpsNotApplicable = false;  // "fps=  n/a": a run without a display
    long long imu = 0;
    double age = 0.0;
    long long gaps = 0, stalls = 0;
    long long accelMagnitude = 0;
    int gyro[3] = {0, 0, 0};
    std::string prox;  // "n/a", "worn(1700)", ...
    bool freeRun = false;
};

// Every stdout line that begins as a status line; a line that begins so but
// does not have the status line's exact shape fails the calling test.
std::vector<StatusLine> StatusLines(const RunResult& run);

// The first "PRESENT RESULT:" line of the run, taken apart.
std::optional<PresentResult> FindPresentResult(const RunResult& run);

struct ImuResult {
    long long samples = 0, reports = 0, seqGaps = 0, stalls = 0;
};
std::optional<ImuResult> FindImuResult(const RunResult& run);

// The lines that stand for themselves.
extern const char* const kVerdictPass;
extern const char* const kVerdictFail;
extern const char* const kVerdictDisplayLost;
extern const char* const kNoMatchingWatchman;
extern const char* const kDefaultSerial;

}  // namespace brisk::e2e
