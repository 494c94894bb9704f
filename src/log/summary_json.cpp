#include "log/summary_json.h"

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

namespace brisk {
namespace {

using Json = nlohmann::ordered_json;

// Three decimals: the figures are measurements, not exact binary fractions.
double Rounded(double v) {
    return std::round(v * 1000.0) / 1000.0;
}

Json OrNull(bool measured, Json value) {
    return measured ? std::move(value) : Json(nullptr);
}

Json TextOrNull(const std::string& text) {
    return text.empty() ? Json(nullptr) : Json(text);
}

const char* PartResult(const RunSummary& s, RunPart part) {
    for (const Reason& r : s.reasons) {
        if (r.counted && r.part == part) {
            return "FAIL";
        }
    }
    return "PASS";
}

Json ReasonList(const RunSummary& s, bool counted) {
    Json list = Json::array();
    for (const Reason& r : s.reasons) {
        if (r.counted == counted) {
            list.push_back({{"code", r.code}, {"text", r.text}});
        }
    }
    return list;
}

// The flags' words one by one ("gyro y stuck", ...).
Json HealthFlags(const ImuHealthFigures& health) {
    Json flags = Json::array();
    const std::string text = HealthFlagText(health);
    size_t begin = 0;
    while (begin < text.size()) {
        const size_t end = text.find("; ", begin);
        flags.push_back(text.substr(begin, end - begin));
        begin = end == std::string::npos ? text.size() : end + 2;
    }
    return flags;
}

// Losses and returns of a device, as its reader's lines told them.
void AddPresence(Json& part, bool measured, const PartPresence& p) {
    part["lost"] = OrNull(measured, p.losses);
    part["back"] = OrNull(measured, p.returns);
    part["present_at_end"] = OrNull(measured, p.presentAtEnd);
}

Json ImuPart(const RunFacts& facts, const RunSummary& s) {
    if (!s.imuTried) {
        return nullptr;
    }
    const bool ran = s.imuRan;
    Json imu = {{"result", PartResult(s, RunPart::kImu)}, {"started", ran}};
    imu["serial"] = ran ? TextOrNull(facts.imuSerial) : Json(nullptr);
    imu["samples"] = OrNull(ran, s.imuSamples);
    imu["reports"] = OrNull(ran, s.imuReports);
    imu["seq_gaps"] = OrNull(ran, s.imuSeqGaps);
    imu["stalls"] = OrNull(ran, s.imuStalls);
    imu["bad_reports"] = OrNull(ran, s.imuBadReports);
    AddPresence(imu, ran, s.imuPresence);
    imu["seconds_without"] = OrNull(ran, Rounded(s.imuPresence.secondsWithout));
    const bool health = ran && s.haveHealth;
    imu["clock_ppm"] = OrNull(health && s.health.haveClock, Rounded(s.health.clockPpm));
    imu["health_flags"] = health ? HealthFlags(s.health) : Json(nullptr);
    return imu;
}

Json McuPart(const RunSummary& s) {
    if (!s.mcuTried) {
        return nullptr;
    }
    const bool ran = s.mcuStarted;
    Json mcu = {{"result", PartResult(s, RunPart::kMcu)}, {"started", ran}};
    AddPresence(mcu, ran, s.mcuPresence);
    mcu["distance"] = OrNull(ran, s.mcuDistance);
    mcu["worn"] = OrNull(ran, s.mcuWorn);
    return mcu;
}

Json DisplayPart(const RunFacts& facts, const RunSummary& s) {
    if (!s.displayTried) {
        return nullptr;
    }
    const bool ran = s.presentRan;
    const bool intervals = ran && s.intervals.intervals > 0;
    Json display = {{"result", PartResult(s, RunPart::kDisplay)},
                    {"started", ran},
                    {"kind", facts.display},
                    {"mode", facts.mode}};
    display["frames"] = OrNull(ran, s.frames);
    display["present_errors"] = OrNull(ran, s.presentErrors);
    display["wait_timeouts"] = OrNull(ran, s.waitTimeouts);
    display["free_run_events"] = OrNull(ran, s.freeRunEvents);
    display["fps_avg"] = OrNull(ran, Rounded(s.fpsAverage));
    display["frame_p99_ms"] = OrNull(intervals, Rounded(s.intervals.p99Ms));
    display["frame_max_ms"] = OrNull(intervals, Rounded(s.intervals.maxMs));
    display["lost"] = OrNull(ran, s.displayLost);
    return display;
}

Json FirmwareOf(const identity::Identity& id) {
    if (!id.firmware) {
        return nullptr;
    }
    return {{"build", id.firmware->build},
            {"hardware", id.firmware->HardwareText()},
            {"fpga", id.firmware->FpgaText()}};
}

Json RangeOf(const identity::Identity& id) {
    if (!id.range) {
        return nullptr;
    }
    return {{"gyro_dps", id.range->gyroDps}, {"accel_g", id.range->accelG}};
}

// Always an object, for its problems; a size or a field not read is null.
Json ConfigOf(const WatchmanIdentity& w) {
    const identity::WatchmanConfig* c = w.identity.config.get();
    const bool read = c != nullptr && c->read;
    Json problems = Json::array();
    for (const identity::Problem& p : w.problems) {
        problems.push_back({{"code", p.code}, {"text", p.text}});
    }
    Json config = {{"read", read}};
    config["compressed_bytes"] =
        OrNull(c != nullptr && c->compressedBytes > 0, c != nullptr ? c->compressedBytes : 0);
    config["chunk_bytes"] =
        OrNull(c != nullptr && (read || c->chunkBytes > 0), c != nullptr ? c->chunkBytes : 0);
    config["json_bytes"] =
        OrNull(c != nullptr && c->jsonBytes > 0, c != nullptr ? c->jsonBytes : 0);
    config["serial"] = read ? TextOrNull(c->serial) : Json(nullptr);
    config["photodiodes"] = OrNull(read, read ? c->Photodiodes() : 0);
    config["problems"] = std::move(problems);
    return config;
}

// What the Watchman said of itself (--identity); null when the IMU never
// started, so nothing was read.
Json WatchmanPart(const RunSummary& s) {
    if (!s.identityRead) {
        return nullptr;
    }
    const WatchmanIdentity& w = s.watchman;
    Json watchman;
    watchman["usb_serial"] = TextOrNull(w.usbSerial.shown);
    watchman["usb_serial_source"] = TextOrNull(w.usbSerial.source);
    watchman["firmware"] = FirmwareOf(w.identity);
    watchman["imu_range"] = RangeOf(w.identity);
    watchman["config"] = ConfigOf(w);
    return watchman;
}

// What the light came to (--optical). A photodiode's "id" is the wire
// channel its reports name; a channel outside the map has no model index.
// A first-generation station has no channel; a station is null where its
// OOTX frame has not come whole. A missing station is one expected
// (--expect-stations) and not seen: by its id or by its channel.
Json OpticalPart(const RunSummary& s) {
    const optical::OpticalFindings& f = s.optical;
    Json part;
    part["judged"] = f.judged;
    part["generation"] = f.generation == 0 ? Json(nullptr) : Json(f.generation);
    Json photodiodes = Json::array();
    for (const optical::PhotodiodeFinding& p : f.photodiodes) {
        photodiodes.push_back({{"id", p.wire},
                               {"model_index", p.modelIndex},
                               {"pulses", p.pulses},
                               {"state", optical::StateName(p.state)}});
    }
    for (const optical::UnmappedChannel& u : f.unmapped) {
        photodiodes.push_back(
            {{"id", u.wire}, {"model_index", nullptr}, {"pulses", u.pulses}, {"state", "unlit"}});
    }
    part["photodiodes"] = photodiodes;
    Json stations = Json::array();
    for (const optical::StationFinding& st : f.stations) {
        char id[9] = {};
        if (st.id.has_value()) {
            std::snprintf(id, sizeof id, "%08X", static_cast<unsigned>(*st.id));
        }
        stations.push_back(
            {{"id", st.id.has_value() ? Json(id) : Json(nullptr)},
             {"channel", st.generation == 2 ? Json(st.channel) : Json(nullptr)},
             {"firmware", st.firmware.has_value() ? Json(*st.firmware) : Json(nullptr)},
             {"ootx_crc_ok", st.ootxCrcOk.has_value() ? Json(*st.ootxCrcOk) : Json(nullptr)}});
    }
    part["base_stations"] = stations;
    Json missing = Json::array();
    for (const ExpectedStation& m : f.missing) {
        char id[9] = {};
        std::snprintf(id, sizeof id, "%08X", static_cast<unsigned>(m.value));
        const bool byId = m.kind == ExpectedStation::Kind::kId;
        missing.push_back({{"id", byId ? Json(id) : Json(nullptr)},
                           {"channel", byId ? Json(nullptr) : Json(m.value)}});
    }
    part["missing_stations"] = missing;
    return part;
}

}  // namespace

std::string SummaryVerdict(const std::string& verdictName) {
    if (verdictName.starts_with("PASS")) {
        return "PASS";
    }
    return verdictName == "DISPLAY LOST" ? "DISPLAY_LOST" : "FAIL";
}

std::string SummaryJson(const RunFacts& facts, const RunSummary& s) {
    Json doc;
    doc["tool_version"] = facts.version;
    doc["command_line"] = facts.arguments;
    doc["launched_by"] = TextOrNull(facts.launchedBy);
    doc["inferred"] = facts.inferred;
    doc["station"] = facts.station;
    doc["started_at"] = facts.startedAt;
    doc["duration_s"] = Rounded(s.runSeconds);
    doc["verdict"] = SummaryVerdict(s.verdict);
    doc["exit_code"] = s.exitCode;
    doc["reasons"] = ReasonList(s, true);
    doc["noted"] = ReasonList(s, false);
    doc["imu"] = ImuPart(facts, s);
    doc["mcu"] = McuPart(s);
    doc["display"] = DisplayPart(facts, s);
    if (s.identityAsked) {
        doc["watchman"] = WatchmanPart(s);
    }
    if (s.opticalAsked) {
        doc["optical"] = OpticalPart(s);
    }
    // A serial or an argument that is not UTF-8 is written with U+FFFD
    // rather than throwing.
    return doc.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

void WriteSummaryJson(SideFile& file, const RunFacts& facts, const RunSummary& summary) {
    const std::string doc = SummaryJson(facts, summary);
    std::string reason;
    if (!file.WriteFlushed(doc.data(), doc.size(), reason)) {
        file.Stop(reason);
    }
}

}  // namespace brisk
