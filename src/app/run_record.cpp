#include "app/run_record.h"

#include "app/driver.h"
#include "app/metrics_feed.h"
#include "base/output.h"
#include "base/side_file.h"
#include "identity/identity_text.h"
#include "log/log_writer.h"
#include "log/optical_text.h"
#include "log/summary_json.h"
#include "run/status_line.h"

namespace brisk {
inline namespace BRISK_GPU_NAMESPACE {
namespace {

void AddImu(RunSummary& s, const PartsAtEnd& parts) {
    s.imuRan = true;
    s.imuSamples = parts.imu.samples;
    s.imuReports = parts.imu.reports;
    s.imuSeqGaps = parts.imu.seqGaps;
    s.imuStalls = parts.imu.stalls;
    s.imuBadReports = parts.imu.badReports;
    s.haveHealth = true;
    s.health = parts.health;
}

void AddPresent(RunSummary& s, const PresentStats& ps) {
    s.presentRan = true;
    s.frames = ps.frames;
    s.presentErrors = ps.presentErrors;
    s.waitTimeouts = ps.waitTimeouts;
    s.freeRunEvents = ps.freeRunEvents;
    s.intervals = SummariseFrameIntervals(ps.frameIntervals, ps.refreshHz);
    s.displayLost = ps.displayLost;
    s.fpsAverage = ps.fps;
}

int ExitCode(RunEnd how, const RunTotals& t, bool failed, bool failExit) {
    switch (how) {
        case RunEnd::kImuFailed:
            return kExitImuFailed;
        case RunEnd::kInitFailed:
            return kExitInitFailed;
        case RunEnd::kVerdict:
            break;
    }
    if (t.displayTested && t.displayLost) {
        return kExitDisplayLost;
    }
    return failed && failExit ? kExitFail : kExitVerdict;
}

}  // namespace

RunRecord::RunRecord(const RunSettings& settings, int argc, const char* const* argv,
                     SteadyClock::time_point started)
    : settings(settings), started(started), facts(MakeRunFacts(settings, argc, argv)) {
    facts.version = ToolVersion();
    facts.station = StationName(settings);
    facts.startedAt = UtcTimeText(std::chrono::system_clock::now());
}

RunRecord::~RunRecord() {
    Close();
}

bool RunRecord::Open() {
    std::string error;
    if (!settings.logPath.empty()) {
        log = LogWriter::Create(settings.logPath, started, error, false);
        if (log == nullptr) {
            Print(stderr, "brisk: --log: cannot create %s: %s\n", settings.logPath.c_str(),
                  error.c_str());
            return false;
        }
    }
    if (!settings.jsonPath.empty()) {
        json = SideFile::Create("--json", settings.jsonPath, error);
        if (json == nullptr) {
            Print(stderr, "brisk: --json: cannot create %s: %s\n", settings.jsonPath.c_str(),
                  error.c_str());
            return false;
        }
    }
    // One listener for the run: the presence tracker hears what each line
    // marks, then the log writes the line.
    SetOutputListener([this](std::FILE* stream, std::string_view text, LineEvent event) {
        presence.Heard(event, Elapsed());
        if (log != nullptr) {
            log->Heard(stream, text, event);
        }
    });
    listening = true;
    return true;
}

void RunRecord::ImuStarted(const std::string& serial) {
    presence.Watch(RunPart::kImu, Elapsed());
    facts.imuSerial = serial;
    if (log != nullptr) {
        log->Run(facts);
    }
}

void RunRecord::McuStarted() {
    presence.Watch(RunPart::kMcu, Elapsed());
}

double RunRecord::Elapsed() const {
    return std::chrono::duration<double>(SteadyClock::now() - started).count();
}

RunTotals RunRecord::Totals(RunEnd how, const PartsAtEnd& parts, double now) const {
    RunTotals t;
    t.imuTried = parts.imuTried;
    t.imuStarted = parts.imuStarted;
    t.displayTested = parts.displayTried;
    t.displayInitFailed = how == RunEnd::kInitFailed;
    if (parts.present != nullptr) {
        t.displayLost = parts.present->displayLost;
        t.displayLostAt = presence.DisplayLostAt();
        t.frames = parts.present->frames;
        t.presentErrors = parts.present->presentErrors;
        t.waitTimeouts = parts.present->waitTimeouts;
    }
    if (parts.imuStarted) {
        t.imuSamples = parts.imu.samples;
        t.imuSeqGaps = parts.imu.seqGaps;
        t.imuStalls = parts.imu.stalls;
        t.imuHealthFlags = HealthFlagText(parts.health);
        const double imuFrom = presence.ImuStartedAt();
        t.runSeconds = imuFrom >= 0 && now > imuFrom ? now - imuFrom : 0.0;
    }
    t.imu = presence.Presence(RunPart::kImu, now);
    t.mcu = presence.Presence(RunPart::kMcu, now);
    t.identityChecked = settings.identity;
    if (parts.identityRead) {
        for (const identity::Problem& p : parts.watchman.problems) {
            // The words may hold what the unit said of itself: printable only.
            t.identity.push_back({p.code, identity::Printable(p.text)});
        }
    }
    if (settings.optical != OpticalMode::kOff && parts.imuStarted) {
        t.optical = OpticalTotalsOf(parts.optical, parts.lightStalls,
                                    settings.optical == OpticalMode::kRequire);
    }
    return t;
}

RunSummary RunRecord::Summary(RunEnd how, const PartsAtEnd& parts, const RunTotals& t) const {
    RunSummary s;
    if (parts.imuStarted) {
        AddImu(s, parts);
    }
    if (how == RunEnd::kVerdict && parts.present != nullptr) {
        AddPresent(s, *parts.present);
    }
    s.imuTried = parts.imuTried;
    s.imuPresence = t.imu;
    s.mcuPresence = t.mcu;
    s.mcuTried = parts.mcuTried;
    s.mcuStarted = parts.mcuStarted;
    s.mcuWorn = parts.mcuWorn;
    s.mcuDistance = parts.mcuDistance;
    s.displayTried = parts.displayTried;
    s.identityAsked = settings.identity;
    s.identityRead = parts.identityRead;
    s.watchman = parts.watchman;
    s.opticalAsked = settings.optical != OpticalMode::kOff;
    s.optical = parts.optical;
    s.opticalConfig = parts.opticalConfig;
    return s;
}

int RunRecord::End(RunEnd how, const PartsAtEnd& parts) {
    const double now = Elapsed();
    const RunTotals t = Totals(how, parts, now);
    const std::vector<Reason> reasons = RaisedReasons(t, settings.failOn);
    const bool failed = AnyCounted(reasons);
    const int code = ExitCode(how, t, failed, settings.failExit);
    RunSummary s = Summary(how, parts, t);
    s.reasons = reasons;
    s.failReasons = JoinedTexts(reasons, true);
    s.exitCode = code;
    s.runSeconds = now;
    switch (how) {
        case RunEnd::kVerdict:
            s.verdict = VerdictName(t, reasons);
            s.verdictLine = FormatVerdictLine(t, reasons);
            // A lost display has its own verdict and exit code; every other
            // failure names its reasons first.
            if (failed && !t.displayLost) {
                PrintText(stdout, FormatReasonsLine(reasons));
            }
            PrintText(stdout, s.verdictLine, LineEvent::kVerdict);
            PublishTotals(parts.imu, parts.present, s.verdict.starts_with("PASS"));
            break;
        case RunEnd::kImuFailed:
            s.verdict = "IMU FAILED";
            break;
        case RunEnd::kInitFailed:
            s.verdict = "INIT FAILED";
            break;
    }
    PublishEnd(t, reasons, SummaryVerdict(s.verdict));
    // The summary file first: a line saying it could not be written is then
    // still in the log.
    if (json != nullptr) {
        WriteSummaryJson(*json, facts, s);
    }
    if (log != nullptr) {
        log->Run(facts);  // the run row, if the IMU never got to it
        log->Summary(s);
    }
    return code;
}

void RunRecord::Close() {
    if (listening) {
        SetOutputListener(nullptr);
        listening = false;
    }
    log.reset();
    json.reset();
}

}  // namespace BRISK_GPU_NAMESPACE
}  // namespace brisk
