// brisk-report as a person runs it: exit codes and the one line it says for
// each way a run can go wrong, and the page where it was asked to go.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "report/log_generator.h"
#include "report/report_program_fixture.h"
#include "support/subprocess.h"

namespace brisk::test {
namespace {

namespace fs = std::filesystem;

using ReportProgram = ReportProgramTest;

std::string Lines(const std::vector<TimedLine>& lines) {
    std::string s;
    for (const TimedLine& l : lines) {
        s += l.text + "\n";
    }
    return s;
}

TEST_F(ReportProgram, ExitCodesAndWhatItSays) {
    LogShape shape;
    shape.seconds = 10;
    const std::string log = Write("run.csv", MakeLog(shape));
    const std::string text = MakeLog(shape);
    const std::string cut = Write("cut.csv", text.substr(0, text.size() - 7));
    const std::string notLog = Write("notes.txt", "hello,world\r\n");
    const std::string missing = (dir / "missing.csv").string();
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string err;  // the whole of stderr
    };
    const Case cases[] = {
        {{}, 64, "brisk-report: no LOG given (brisk-report --help for usage)\n"},
        {{log, "--colour"},
         64,
         "brisk-report: unknown option --colour (brisk-report --help for usage)\n"},
        {{log, "-o"}, 64, "brisk-report: -o needs a file name (brisk-report --help for usage)\n"},
        // Several logs, or a folder, make a fleet page: its place must be given.
        {{log, log},
         64,
         "brisk-report: a fleet page (several LOGs or a folder) needs -o FLEET.html "
         "(brisk-report --help for usage)\n"},
        {{notLog},
         65,
         "brisk-report: " + notLog +
             ": not a brisk run log (the first row has no 'time' column)\n"},
        {{missing}, 66, "brisk-report: " + missing + ": cannot read (No such file or directory)\n"},
        {{dir.string()},
         64,
         "brisk-report: a fleet page (several LOGs or a folder) needs -o FLEET.html "
         "(brisk-report --help for usage)\n"},
        {{log, "-o", (dir / "no" / "such.html").string()},
         73,
         "brisk-report: " + (dir / "no" / "such.html").string() +
             ": cannot write the report (No such file or directory)\n"},
        {{"--help"}, 0, ""},
        // A cut log still gives a page, and a word on where it stops.
        {{cut, "-o", (dir / "cut.html").string()},
         0,
         "brisk-report: " + cut +
             ": read up to row 18: row 18 is cut off: the log ends in the "
             "middle of it\n"},
        {{log}, 0, ""},
    };
    for (const Case& c : cases) {
        const RunResult r = RunReport(c.args);
        ASSERT_TRUE(r.exited) << Describe(r);
        EXPECT_EQ(r.exitCode, c.exitCode) << Describe(r);
        EXPECT_EQ(Lines(r.err), c.err) << Describe(r);
    }
    EXPECT_TRUE(fs::is_regular_file(dir / "run.html"));
    EXPECT_TRUE(fs::is_regular_file(dir / "cut.html"));
    EXPECT_NE(Lines(RunReport({"--help"}).out).find("usage: brisk-report LOG [-o REPORT.html]"),
              std::string::npos);
}

}  // namespace
}  // namespace brisk::test
