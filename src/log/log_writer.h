// The run log: a CSV file written while the run goes (see the README's "Run
// log"). It hears every printed line through the output function and writes
// it as a message row; the status monitor hands it each status line with its
// figures, and the driver the run's facts and its summary. Each row is
// flushed as it is written, so a crash leaves every row before it. A failed
// write says so once and stops the log; the run goes on.
#pragma once

#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "log/log_rows.h"
#include "base/output.h"
#include "base/side_file.h"

namespace brisk {

class LogWriter {
  public:
    using SteadyClock = std::chrono::steady_clock;

    // Creates (or replaces) the file at `path`, writes the header and, when
    // `listen`, starts listening to the output function; otherwise the
    // caller's listener hands it each line with Heard. Null, with the reason
    // in `error`, when the file cannot be created. Elapsed times count from
    // `started`.
    static std::unique_ptr<LogWriter> Create(const std::string& path,
                                             SteadyClock::time_point started, std::string& error,
                                             bool listen = true);

    // Stops listening (when it did) and closes the file. Whatever prints must
    // have ended.
    ~LogWriter();
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    // The run row, stamped with the log's start so that the times read in
    // order. Message rows heard before it are held and follow it. Only the
    // first call writes.
    void Run(const RunFacts& facts);
    // A status line already printed (unheard), with the figures it shows.
    void Status(const StatusFields& fields, std::string_view line);
    // The last row, once the verdict is printed.
    void Summary(const RunSummary& summary);
    // A printed line, as the output function tells its listener.
    void Heard(std::FILE* stream, std::string_view text, LineEvent event);

  private:
    LogWriter(std::unique_ptr<SideFile> file, SteadyClock::time_point started);

    // Stamps and writes one row (held when `hold` and no run row yet).
    void Append(const LogCells& cells, bool hold);
    // Under the lock; false, with the file closed, when the write failed.
    bool WriteLocked(const std::string& row);
    void ReportFailure();

    const SteadyClock::time_point started;
    const std::chrono::system_clock::time_point createdAt;
    const double createdElapsed;
    bool listening = false;  // it installed the output listener itself

    std::mutex mtx;                  // guards the members below; never held while printing
    std::unique_ptr<SideFile> file;  // written under the lock; stopped outside it
    bool haveRunRow = false;
    bool summaryWritten = false;
    std::vector<std::string> held;
    std::string failure;  // why the log stopped; empty while it goes
};

}  // namespace brisk
