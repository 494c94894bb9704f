// brisk-report LOG [-o REPORT.html]: one self-contained HTML page from a
// brisk run log. Several logs, or a folder of them, make a fleet page
// (fleet_command.h). Exit codes follow sysexits: 64 usage, 65 not a run log,
// 66 log unreadable, 73 report not written.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "report/fleet_command.h"
#include "report/report_page.h"
#include "report/log_reader.h"

namespace {

constexpr int kUsage = 64, kDataError = 65, kNoInput = 66, kCantCreate = 73;

const char* const kUsageText =
    "usage: brisk-report LOG [-o REPORT.html]\n"
    "       brisk-report (LOG | FOLDER)... -o FLEET.html\n"
    "       brisk-report --help | -h | --version\n"
    "\n"
    "Turns a brisk run log (CSV) into one self-contained HTML page: the verdict,\n"
    "the totals and facts of the run, and charts of every status column on one\n"
    "time axis with a marker for every event; with --optical, the photodiodes\n"
    "drawn at their configured places, coloured by state. The page has no script\n"
    "and loads nothing from elsewhere, so it opens offline and can be attached to a bug.\n"
    "\n"
    "  -o REPORT.html   where to write the page (default: LOG with .html for its extension)\n"
    "\n"
    "Several LOGs, or FOLDERs of them (their *.csv files), make a fleet page instead: a table\n"
    "of every run, failed runs first (station, IMU serial, start, duration, verdict and why,\n"
    "time without IMU, IMU and MCU lost and back, display wait time-outs, p99 frame interval,\n"
    "gaps, stalls, dons and doffs, firmware, identity, dead photodiodes; a click on a\n"
    "heading sorts by it) and each IMU serial's runs, passes and worst figures.\n"
    "Each run's own page goes into the folder FLEET-runs beside FLEET.html, linked from its\n"
    "row. A log that cannot be read is named and keeps its row.\n"
    "\n"
    "exit codes: 0 report written (also for a log cut short: the page says where it stops),\n"
    "            64 usage error, 65 not a brisk run log, 66 log cannot be read (a fleet:\n"
    "            none of its logs), 73 report cannot be written\n";

int Usage(const std::string& reason) {
    std::fprintf(stderr, "brisk-report: %s (brisk-report --help for usage)\n", reason.c_str());
    return kUsage;
}

std::string DefaultOutput(const std::string& log) {
    std::filesystem::path out = std::filesystem::path(log).replace_extension(".html");
    // Never write the page over the log it was made from.
    return out == std::filesystem::path(log) ? log + ".html" : out.string();
}

}  // namespace

int main(int argc, char** argv) {
    std::string log, output;
    std::vector<std::string> moreLogs;  // a fleet: every LOG after the first
    bool haveOutput = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsageText, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("brisk-report %s\n", BRISK_VERSION);
            return 0;
        }
        if (arg == "-o" || arg == "--output") {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                return Usage(arg + " needs a file name");
            }
            if (haveOutput) {
                return Usage("more than one " + arg);
            }
            output = argv[++i];
            haveOutput = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Usage("unknown option " + arg);
        } else if (arg.empty()) {
            return Usage("an empty LOG name");
        } else if (log.empty()) {
            log = arg;
        } else {
            moreLogs.push_back(arg);
        }
    }
    if (log.empty()) {
        return Usage("no LOG given");
    }
    std::error_code fleetEc;
    if (!moreLogs.empty() || std::filesystem::is_directory(log, fleetEc)) {
        if (!haveOutput) {
            return Usage("a fleet page (several LOGs or a folder) needs -o FLEET.html");
        }
        moreLogs.insert(moreLogs.begin(), log);
        return brisk::report::WriteFleet(moreLogs, output, BRISK_VERSION);
    }
    if (!haveOutput) {
        output = DefaultOutput(log);
    }

    std::error_code ec;
    if (std::filesystem::is_directory(log, ec)) {
        std::fprintf(stderr, "brisk-report: %s: cannot read (it is a directory)\n", log.c_str());
        return kNoInput;
    }
    std::ifstream in(log, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "brisk-report: %s: cannot read (%s)\n", log.c_str(),
                     std::strerror(errno));
        return kNoInput;
    }
    const brisk::report::LogReadResult read = brisk::report::ReadLoggedRun(in);
    if (in.bad()) {
        std::fprintf(stderr, "brisk-report: %s: cannot read (read error)\n", log.c_str());
        return kNoInput;
    }
    if (!read.isBriskLog) {
        std::fprintf(stderr, "brisk-report: %s: not a brisk run log (%s)\n", log.c_str(),
                     read.notBriskReason.c_str());
        return kDataError;
    }
    const std::string page = brisk::report::RenderReport(
        read.log, std::filesystem::path(log).filename().string(), BRISK_VERSION);

    errno = 0;
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    if (out) {
        out.write(page.data(), static_cast<std::streamsize>(page.size()));
        out.close();
    }
    if (!out) {
        std::fprintf(stderr, "brisk-report: %s: cannot write the report (%s)\n", output.c_str(),
                     errno != 0 ? std::strerror(errno) : "write failed");
        return kCantCreate;
    }
    if (!read.log.stopReason.empty()) {
        std::fprintf(stderr, "brisk-report: %s: read up to row %llu: %s\n", log.c_str(),
                     static_cast<unsigned long long>(read.log.stopRow),
                     read.log.stopReason.c_str());
    }
    std::printf("brisk-report: wrote %s\n", output.c_str());
    return 0;
}
