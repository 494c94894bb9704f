#include "report/fleet_command.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "report/fleet_files.h"
#include "report/fleet_page.h"
#include "report/fleet_rows.h"
#include "report/log_reader.h"
#include "report/report_page.h"

namespace brisk::report {
namespace {

namespace fs = std::filesystem;

constexpr int kNoInput = 66, kCantCreate = 73;

// The logs named, folders opened into their *.csv files (in name order).
std::vector<std::string> ExpandInputs(const std::vector<std::string>& inputs) {
    std::vector<std::string> logs;
    for (const std::string& input : inputs) {
        std::error_code ec;
        if (!fs::is_directory(input, ec)) {
            logs.push_back(input);
            continue;
        }
        std::vector<std::string> found;
        for (fs::directory_iterator it(input, ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code fileEc;
            if (IsLogFileName(it->path().filename().string()) && it->is_regular_file(fileEc)) {
                found.push_back(it->path().string());
            }
        }
        if (ec) {
            std::fprintf(stderr, "brisk-report: %s: cannot read the folder (%s)\n", input.c_str(),
                         ec.message().c_str());
        } else if (found.empty()) {
            std::fprintf(stderr, "brisk-report: %s: no .csv logs in the folder\n", input.c_str());
        }
        std::sort(found.begin(), found.end());
        logs.insert(logs.end(), found.begin(), found.end());
    }
    return logs;
}

// The log read, or why it could not be: the same words as for a single log.
std::string ReadLog(const std::string& path, LogReadResult& read) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
        return "cannot read (it is a directory)";
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::string("cannot read (") + std::strerror(errno) + ")";
    }
    read = ReadLoggedRun(in);
    if (in.bad()) {
        return "cannot read (read error)";
    }
    if (!read.isBriskLog) {
        return "not a brisk run log (" + read.notBriskReason + ")";
    }
    return {};
}

bool WriteFile(const std::string& path, const std::string& text) {
    errno = 0;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out) {
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.close();
    }
    if (!out) {
        std::fprintf(stderr, "brisk-report: %s: cannot write the report (%s)\n", path.c_str(),
                     errno != 0 ? std::strerror(errno) : "write failed");
    }
    return static_cast<bool>(out);
}

}  // namespace

int WriteFleet(const std::vector<std::string>& inputs, const std::string& output,
               const std::string& version) {
    const std::vector<std::string> logs = ExpandInputs(inputs);
    const std::vector<std::string> pageNames = RunPageNames(logs);
    const std::string folder = RunsFolderFor(output);
    const std::string folderName = fs::path(folder).filename().string();
    bool haveFolder = false;
    size_t readable = 0;
    std::vector<FleetRun> runs;
    for (size_t i = 0; i < logs.size(); ++i) {
        // One log in memory at a time: a lab's night of hour-long runs stays small.
        LogReadResult read;
        const std::string problem = ReadLog(logs[i], read);
        if (!problem.empty()) {
            std::fprintf(stderr, "brisk-report: %s: %s\n", logs[i].c_str(), problem.c_str());
            runs.push_back(UnreadableRun(logs[i], problem));
            continue;
        }
        if (!read.log.stopReason.empty()) {
            std::fprintf(stderr, "brisk-report: %s: read up to row %llu: %s\n", logs[i].c_str(),
                         static_cast<unsigned long long>(read.log.stopRow),
                         read.log.stopReason.c_str());
        }
        std::error_code ec;
        if (!haveFolder && !fs::create_directory(folder, ec) && ec) {
            std::fprintf(stderr,
                         "brisk-report: %s: cannot make the folder for the run pages (%s)\n",
                         folder.c_str(), ec.message().c_str());
            return kCantCreate;
        }
        haveFolder = true;
        const std::string page =
            RenderReport(read.log, fs::path(logs[i]).filename().string(), version);
        if (!WriteFile((fs::path(folder) / pageNames[i]).string(), page)) {
            return kCantCreate;
        }
        ++readable;
        runs.push_back(SummariseRun(read.log, logs[i]));
        runs.back().pageHref = PageHref(folderName, pageNames[i]);
    }
    if (readable == 0) {
        if (logs.empty()) {
            std::fprintf(stderr, "brisk-report: no logs to read; no page written\n");
        } else {
            std::fprintf(stderr,
                         "brisk-report: none of the %zu logs could be read; no page written\n",
                         logs.size());
        }
        return kNoInput;
    }
    SortRuns(runs);
    if (!WriteFile(output, RenderFleetPage(runs, version))) {
        return kCantCreate;
    }
    std::printf("brisk-report: wrote %s (%zu runs, %zu logs not read; run pages in %s)\n",
                output.c_str(), runs.size(), runs.size() - readable, folder.c_str());
    return 0;
}

}  // namespace brisk::report
