#include "log/log_writer.h"

#include "log/csv_writer.h"
#include "base/output.h"

namespace brisk {

std::unique_ptr<LogWriter> LogWriter::Create(const std::string& path,
                                             SteadyClock::time_point started, std::string& error,
                                             bool listen) {
    std::unique_ptr<SideFile> file = SideFile::Create("--log", path, error);
    if (!file) {
        return nullptr;
    }
    std::unique_ptr<LogWriter> log(new LogWriter(std::move(file), started));
    bool written = false;
    {
        std::lock_guard<std::mutex> lock(log->mtx);
        written = log->WriteLocked(FormatCsvRow(LogHeader()));
    }
    if (!written) {
        log->ReportFailure();
    }
    if (!listen) {
        return log;
    }
    log->listening = true;
    SetOutputListener([raw = log.get()](std::FILE* stream, std::string_view text, LineEvent event) {
        raw->Heard(stream, text, event);
    });
    return log;
}

LogWriter::LogWriter(std::unique_ptr<SideFile> file, SteadyClock::time_point started)
    : started(started),
      createdAt(std::chrono::system_clock::now()),
      createdElapsed(std::chrono::duration<double>(SteadyClock::now() - started).count()),
      file(std::move(file)) {}

LogWriter::~LogWriter() {
    if (listening) {
        SetOutputListener(nullptr);
    }
}

void LogWriter::Run(const RunFacts& facts) {
    bool written = true;
    {
        std::lock_guard<std::mutex> lock(mtx);
        if (haveRunRow || !failure.empty()) {
            return;
        }
        haveRunRow = true;
        // Stamped with the log's own start: the message rows held until now
        // were heard after it, so the times never run backwards.
        written = WriteLocked(FormatLogRow(RunRow(facts), createdAt, createdElapsed));
        for (size_t i = 0; written && i < held.size(); ++i) {
            written = WriteLocked(held[i]);
        }
        held.clear();
    }
    if (!written) {
        ReportFailure();
    }
}

void LogWriter::Status(const StatusFields& fields, std::string_view line) {
    Append(StatusRow(fields, line), false);
}

void LogWriter::Summary(const RunSummary& summary) {
    for (const LogCells& row : PhotodiodeRows(summary)) {
        Append(row, false);
    }
    Append(SummaryRow(summary), false);
    std::lock_guard<std::mutex> lock(mtx);
    summaryWritten = true;  // the summary stays the last row
}

void LogWriter::Heard(std::FILE* stream, std::string_view text, LineEvent event) {
    // One row per line; a text always ends with its newline.
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const size_t next = end == std::string_view::npos ? text.size() : end + 1;
        Append(MessageRow(stream == stderr, text.substr(0, next), event), true);
        text.remove_prefix(next);
    }
}

void LogWriter::Append(const LogCells& cells, bool hold) {
    {
        std::lock_guard<std::mutex> lock(mtx);
        if (!failure.empty() || summaryWritten) {
            return;
        }
        const double elapsed = std::chrono::duration<double>(SteadyClock::now() - started).count();
        std::string row = FormatLogRow(cells, std::chrono::system_clock::now(), elapsed);
        if (hold && !haveRunRow) {
            held.push_back(std::move(row));
            return;
        }
        if (WriteLocked(row)) {
            return;
        }
    }
    ReportFailure();
}

bool LogWriter::WriteLocked(const std::string& row) {
    return file->WriteFlushed(row.data(), row.size(), failure);
}

// Printed outside the lock: the line is heard by this log too, which has
// stopped by now and lets it pass.
void LogWriter::ReportFailure() {
    std::string reason;
    {
        std::lock_guard<std::mutex> lock(mtx);
        reason = failure;
    }
    file->Stop(reason);
}

}  // namespace brisk
