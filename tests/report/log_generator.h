// Run logs made to order, written exactly as the tool's log writer writes
// them (the shared CSV schema): a scenario-like run of any length with
// don/doff, an IMU unplug, an MCU drop-out and a free-run in every cycle.
#pragma once

#include <ostream>
#include <string>

namespace brisk::test {

struct LogShape {
    int seconds = 60;            // status rows, one per second
    double cycleSeconds = 60.0;  // the events repeat with this period
    bool finished = true;        // result lines and a summary row at the end
    bool sensorsOnly = false;    // no display: fps and frame gaps empty
    std::string verdict = "PASS";
    std::string failReasons;
    int extraEventsPerSecond = 0;        // that many more doffs at one instant each second
    bool crlf = true;                    // rows end with CRLF (the schema's), else LF
    std::string proxWornAt, proxAwayAt;  // the run row's band; empty as in older logs
};

void WriteLog(std::ostream& out, const LogShape& shape);
std::string MakeLog(const LogShape& shape);

// The header row the log writer puts first, with its line end.
std::string LogHeader(bool crlf = true);

}  // namespace brisk::test
