// Runs a program as a child process (POSIX only) the way a person at a
// console would: standard output and standard error read separately to the
// end and cut into lines as output_capture.h cuts them, each line stamped
// with the time it arrived, an optional Ctrl+C (SIGINT) after a delay or when
// a given line shows up, and a wall-clock limit after which a hung child is
// killed.
#pragma once

#include <string>
#include <vector>

namespace brisk::test {

struct TimedLine {
    double seconds = 0.0;  // since the child was started
    std::string text;      // without the line end
};

struct RunOptions {
    double timeoutSeconds = 30.0;      // then the child is killed
    double sigintAfterSeconds = -1.0;  // negative: not by time
    std::string sigintOnLine;          // non-empty: when a stdout line contains it
    std::string workingFolder;         // non-empty: the child starts there
};

struct RunResult {
    bool started = false;
    bool exited = false;  // exited normally; exitCode is valid
    int exitCode = -1;
    int termSignal = 0;  // the signal that ended it, when it did not exit
    bool timedOut = false;
    std::vector<TimedLine> out;
    std::vector<TimedLine> err;
    double sigintSeconds = -1.0;  // when SIGINT was sent; negative: never
    double endSeconds = 0.0;      // when the child had closed its streams and was reaped
};

// argv[0] is the program's path. Never throws; a child that cannot be
// started comes back with started false.
RunResult RunProgram(const std::vector<std::string>& argv, const RunOptions& options);

// A readable account of a run, for failure messages.
std::string Describe(const RunResult& run);

}  // namespace brisk::test
