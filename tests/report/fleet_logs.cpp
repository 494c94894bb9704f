#include "report/fleet_logs.h"

#include <cmath>
#include <memory>
#include <sstream>

#include "log/csv_writer.h"
#include "log/log_rows.h"
#include "run/status_line.h"

namespace brisk::test {
namespace {

class Rows {
  public:
    Rows(std::ostream& out, std::chrono::system_clock::time_point start) : out(out), start(start) {}

    void Write(const LogCells& cells, double elapsed) {
        const auto at = start + std::chrono::duration_cast<std::chrono::system_clock::duration>(
                                    std::chrono::duration<double>(elapsed));
        out << FormatLogRow(cells, at, elapsed);
    }

    void Message(double elapsed, const std::string& line, LineEvent event) {
        Write(MessageRow(false, line, event), elapsed);
    }

  private:
    std::ostream& out;
    const std::chrono::system_clock::time_point start;
};

// Whether fault k (1..count) of an evenly spread `count` falls on this second.
bool FaultAt(int second, int count, int seconds, int offset) {
    const int every = count > 0 ? seconds / (count + 1) : 0;
    if (every <= offset || second <= offset) {
        return false;  // too short a run for that many
    }
    const int k = (second - offset) / every;
    return (second - offset) % every == 0 && k >= 1 && k <= count;
}

}  // namespace

void WriteFleetLog(std::ostream& out, const FleetLogShape& shape) {
    Rows rows(out, shape.start);
    out << FormatCsvRow(LogHeader());
    RunFacts facts;
    facts.version = "0.1.0";
    facts.commandLine = "--log run.csv " + std::to_string(shape.seconds);
    facts.display = "directmode";
    facts.mode = "5088x2544@75";
    facts.imuSerial = shape.imuSerial;
    facts.proxWornAt = "1600";
    facts.proxAwayAt = "1400";
    facts.station = shape.station;
    rows.Write(RunRow(facts), 0.05);
    rows.Message(0.06, "TundraImu: using " + shape.imuSerial + "\n", LineEvent::kNone);

    StatusFields f;
    f.haveProx = true;
    f.accel[1] = 8192;
    f.distance = 200;
    int imuDownUntil = -1;
    uint64_t stalls = 0;
    for (int s = 1; s <= shape.seconds; ++s) {
        if (FaultAt(s, shape.imuUnplugs, shape.seconds, 0)) {
            rows.Message(s - 0.5,
                         "TundraImu: read failed (err 1167) \xE2\x80\x94 device gone, waiting for "
                         "reconnect\n",
                         LineEvent::kImuLost);
            imuDownUntil = s + 2;
        }
        if (s == shape.imuGoneAt) {
            rows.Message(s - 0.5, "TundraImu: stream silent 2s\n", LineEvent::kImuLost);
            imuDownUntil = shape.seconds + 1;
        }
        if (s == imuDownUntil) {
            rows.Message(s - 0.4, "TundraImu: reconnected to " + shape.imuSerial + "\n",
                         LineEvent::kImuBack);
        }
        const bool don = FaultAt(s, shape.donDoffs, shape.seconds, 1);
        const bool doff = FaultAt(s, shape.donDoffs, shape.seconds, 3);
        if (don || doff) {
            f.worn = don;
            f.distance = don ? 1700 : 200;
            rows.Message(s - 0.3, FormatDonDoffLine(f.worn, f.distance),
                         don ? LineEvent::kDonned : LineEvent::kDoffed);
        }
        const bool imuUp = s >= imuDownUntil;
        stalls += imuUp ? 0 : 1;
        f.framesThisCycle = 75;
        f.samplesThisCycle = imuUp ? 1000 : 0;
        f.age = imuUp ? 0.001 : 1.0;
        f.seqGaps = shape.seqGaps * static_cast<uint64_t>(s) / static_cast<uint64_t>(shape.seconds);
        f.stalls = stalls;
        f.maxFrameGapMs = 13.33 + 0.01 * (s % 9);
        f.gyro[0] = static_cast<int16_t>(s % 17 - 8);
        rows.Write(StatusRow(f, FormatStatusLine(f)), s + 0.001 * (s % 7));
    }
    if (!shape.finished) {
        return;
    }
    RunSummary sum;
    sum.presentRan = true;
    sum.frames = 75ULL * static_cast<uint64_t>(shape.seconds);
    sum.presentErrors = shape.presentErrors;
    sum.intervals = {sum.frames - 1, 13.33, shape.p99Ms, shape.p99Ms + 5.0, shape.p99Ms + 9.0, 3};
    sum.imuRan = true;
    sum.imuSamples = 1000ULL * static_cast<uint64_t>(shape.seconds);
    sum.imuReports = sum.imuSamples - 20;
    sum.imuSeqGaps = shape.seqGaps;
    sum.imuStalls = stalls;
    const double end = shape.seconds + 0.5;
    // The IMU as the tool watched it: each unplug 2.1 s without it.
    PartPresence& imu = sum.imuPresence;
    imu.watched = true;
    imu.losses = static_cast<uint64_t>(shape.imuUnplugs + (shape.imuGoneAt > 0 ? 1 : 0));
    imu.returns = static_cast<uint64_t>(shape.imuUnplugs);
    imu.presentAtEnd = shape.imuGoneAt == 0;
    imu.lastLostAt = shape.imuGoneAt > 0 ? shape.imuGoneAt - 0.5 : -1.0;
    imu.secondsWithout = 2.1 * shape.imuUnplugs + (imu.presentAtEnd ? 0.0 : end - imu.lastLostAt);
    sum.mcuPresence.watched = true;
    RunTotals totals;
    totals.frames = sum.frames;
    totals.presentErrors = sum.presentErrors;
    totals.imuSamples = sum.imuSamples;
    totals.imu = imu;
    sum.reasons = RaisedReasons(totals, {});
    sum.verdict = VerdictName(totals);
    sum.failReasons = FailReasons(totals);
    sum.verdictLine = FormatVerdictLine(totals);
    rows.Message(end, "PRESENT RESULT: " + std::to_string(sum.frames) + " frames\n",
                 LineEvent::kPresentResult);
    rows.Message(end + 0.01, "IMU RESULT: " + std::to_string(sum.imuSamples) + " samples\n",
                 LineEvent::kImuResult);
    rows.Message(end + 0.02, sum.verdictLine, LineEvent::kVerdict);
    if (shape.photodiodes > 0) {
        // A ring of photodiodes around the unit, facing out.
        auto config = std::make_shared<identity::WatchmanConfig>();
        sum.opticalAsked = true;
        sum.opticalConfig = config;
        for (int i = 0; i < shape.photodiodes; ++i) {
            const double a = 6.283185307179586 * i / shape.photodiodes;
            config->positions.push_back({0.1 * std::cos(a), 0.0, 0.1 * std::sin(a)});
            config->normals.push_back({std::cos(a), 0.0, std::sin(a)});
            optical::PhotodiodeFinding f;
            f.wire = i;
            f.modelIndex = static_cast<size_t>(i);
            const bool dead = i < shape.deadPhotodiodes;
            f.state = dead ? optical::PhotodiodeState::kDead : optical::PhotodiodeState::kOk;
            f.pulses = dead ? 0 : 900;
            f.why = dead ? "no pulse" : "";
            sum.optical.photodiodes.push_back(f);
        }
        for (const LogCells& row : PhotodiodeRows(sum)) {
            rows.Write(row, end + 0.025);
        }
    }
    rows.Write(SummaryRow(sum), end + 0.03);
}

std::string MakeFleetLog(const FleetLogShape& shape) {
    std::ostringstream out;
    WriteFleetLog(out, shape);
    return out.str();
}

}  // namespace brisk::test
