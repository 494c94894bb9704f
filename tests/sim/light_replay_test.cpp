// A capture's light replayed on the Watchman's light interface: every real
// capture's light reaches the reader whole, equal to the independent
// decode (light_truth.py's light_expected.txt); the endpoint the light is
// found on; the format the tool sets answered back; captures without light
// as before.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "capture/capture_test_support.h"
#include "optical/optical_run.h"
#include "sim/replay_source.h"
#include "sim/virtual_headset.h"

namespace brisk::sim {
namespace {

using capture::ReplayRole;

// What light_truth.py found in a capture: reports per ID, pulses per channel,
// and the stations' IDs with firmware.
struct Truth {
    std::map<int, uint64_t> reports;
    std::map<int, uint64_t> pulses;
    std::map<std::string, std::string> stations;  // "slot0"/"channel6" -> "ID firmware"
};

// "25:7699,28:1804": keys in `base`, counts in decimal.
std::map<int, uint64_t> Pairs(const std::string& list, int base) {
    std::map<int, uint64_t> out;
    std::istringstream in(list);
    std::string item;
    while (std::getline(in, item, ',')) {
        const size_t colon = item.find(':');
        out[std::stoi(item.substr(0, colon), nullptr, base)] = std::stoull(item.substr(colon + 1));
    }
    return out;
}

Truth TruthOf(const std::string& capture) {
    Truth t;
    std::ifstream in(std::string(BRISK_REAL_CAPTURES) + "/light_expected.txt");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string name, what;
        words >> name >> what;
        if (name != capture) {
            continue;
        }
        if (what.rfind("reports=", 0) == 0) {
            t.reports = Pairs(what.substr(8), 16);
        } else if (what.rfind("pulses=", 0) == 0) {
            t.pulses = Pairs(what.substr(7), 10);
        } else if (what == "station") {
            std::string slot, id, firmware;
            words >> slot >> id >> firmware;
            t.stations[slot] = id.substr(3) + " " + firmware.substr(9);
        }
    }
    return t;
}

struct Replayed {
    std::unique_ptr<optical::OpticalRun> run = std::make_unique<optical::OpticalRun>();
    std::map<int, uint64_t> reports;
    capture::ReplayPlan plan;
    std::shared_ptr<ReplayFeed> feed;
};

// The capture replayed on a clock of the test's own, its light interface
// read as a reader that keeps up reads it.
Replayed ReplayLight(const std::string& path, size_t& imuReports) {
    Replayed out;
    std::string error;
    EXPECT_TRUE(PlanReplay(path, {}, out.plan, error)) << error;
    const Clock::time_point start{};
    out.feed = OpenReplayFeed(path, out.plan, start, error);
    EXPECT_TRUE(out.feed) << error;
    ReplayStream light(out.feed, ReplayRole::kLight), imu(out.feed, ReplayRole::kImu);
    std::vector<InputReport> got;
    imuReports = 0;
    const int64_t endMs = out.plan.lastMicros / 1000 + 10;
    for (int64_t ms = 0; ms <= endMs; ms += 10) {
        const Clock::time_point now = start + std::chrono::milliseconds(ms);
        for (bool more = true; more;) {
            got.clear();
            light.Produce(now, got);
            imu.Produce(now, got);
            more = !got.empty();
            for (const InputReport& r : got) {
                if (r.bytes[0] == 0x20) {
                    ++imuReports;
                    continue;
                }
                out.run->Feed(r.bytes, r.length);
                ++out.reports[r.bytes[0]];
                EXPECT_LE(r.recordedAt, now);
            }
        }
    }
    out.run->Finish();
    return out;
}

std::string Hex8(uint32_t v) {
    char s[9];
    std::snprintf(s, sizeof s, "%08X", v);
    return s;
}

TEST(LightReplay, EveryRealCapturesLightReachesTheReaderWhole) {
    for (const char* name : {"index-lhv1.pcap.gz", "lh2_test_cal.pcap.gz",
                             "tracker-gen2-wired-buttons.pcap.gz", "vive-index-cal.pcap.gz"}) {
        SCOPED_TRACE(name);
        const Truth truth = TruthOf(name);
        ASSERT_FALSE(truth.reports.empty());
        size_t imuReports = 0;
        const Replayed r = ReplayLight(std::string(BRISK_REAL_CAPTURES) + "/" + name, imuReports);
        EXPECT_EQ(r.plan.options.lightEndpoint, 0x83);
        uint64_t total = 0;
        for (const auto& [id, n] : truth.reports) {
            total += n;
        }
        EXPECT_EQ(r.plan.lightReports, total);
        EXPECT_EQ(r.reports, truth.reports);
        EXPECT_EQ(imuReports, r.plan.Device(ReplayRole::kImu).reports);
        std::map<int, uint64_t> pulses;
        for (int wire = 0; wire < 256; ++wire) {
            if (r.run->Channel(uint8_t(wire)).pulses > 0) {
                pulses[wire] = r.run->Channel(uint8_t(wire)).pulses;
            }
        }
        EXPECT_EQ(pulses, truth.pulses);
        std::map<std::string, std::string> stations;
        for (const optical::StationCounts& s : r.run->Stations()) {
            if (s.identified) {
                const std::string slot =
                    (s.generation == 1 ? "slot" : "channel") + std::to_string(s.channel);
                stations[slot] = Hex8(s.id) + " " + std::to_string(s.firmwareWord >> 6);
            }
        }
        EXPECT_EQ(stations, truth.stations);
    }
}

std::vector<uint8_t> Imu(uint8_t seq) {
    std::vector<uint8_t> r(52, 0);
    r[0] = 0x20;
    r[17] = seq;
    return r;
}

TEST(LightReplay, FindsTheLightEndpointByItsReportsAndAnswersTheFormat) {
    struct Row {
        const char* what;
        uint8_t endpoint;
        uint8_t firstId, laterId;
        uint64_t lightReports;
        uint8_t lightEndpoint;
    } rows[] = {
        {"an older unit's light on 0x82", 0x82, 0x25, 0x25, 3, 0x82},
        {"the captured units' 0x83", 0x83, 0x28, 0x28, 3, 0x83},
        {"another report first: light all the same", 0x83, 0x21, 0x25, 3, 0x83},
        {"no light report at all: not light", 0x83, 0x21, 0x21, 0, 0},
        {"another endpoint: not light", 0x84, 0x25, 0x25, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        capture::test::CaptureBuilder c;
        std::vector<uint8_t> light(64, 0);
        light[0] = row.firstId;
        c.Device(0, 1, 0x28DE, 0x2300, u"LHR-5A1B2C3D")
            .Report(1000, 1, Imu(1))
            .Report(1500, 1, light, 0, row.endpoint);
        light[0] = row.laterId;
        c.Report(2000, 1, Imu(2))
            .Report(2500, 1, light, 0, row.endpoint)
            .Report(3500, 1, light, 0, row.endpoint)
            .Report(4000, 1, Imu(3));
        std::string error;
        capture::ReplayPlan plan;
        auto source = capture::OpenPacketSource(c.bytes.data(), c.bytes.size(), error);
        ASSERT_TRUE(capture::ScanReplay(*source, {}, plan, error)) << error;
        EXPECT_EQ(plan.lightReports, row.lightReports);
        EXPECT_EQ(plan.options.lightEndpoint, row.lightEndpoint);
        EXPECT_EQ(plan.Device(ReplayRole::kImu).reports, 3u);
        EXPECT_EQ(plan.foreign.count, 0u);
        auto reader = std::make_unique<capture::ReplayReader>(
            capture::OpenPacketSource(c.bytes.data(), c.bytes.size(), error), plan);
        auto feed = std::make_shared<ReplayFeed>(plan, std::move(reader), Clock::time_point{});
        ReplayStream stream(feed, ReplayRole::kLight);
        std::vector<InputReport> out;
        for (int look = 0; look < 4; ++look) {
            stream.Produce(Clock::time_point{} + std::chrono::milliseconds(10), out);
        }
        EXPECT_EQ(out.size(), row.lightReports);
        const uint8_t second[5] = {0x04, 0x01}, other[5] = {0x10};
        EXPECT_TRUE(stream.OnFeature(second, sizeof second, Clock::time_point{}));
        EXPECT_FALSE(stream.OnFeature(other, sizeof other, Clock::time_point{}));
        uint8_t buf[8] = {};
        const FeatureResult got = stream.OnGetFeature(0x04, buf, sizeof buf, Clock::time_point{});
        EXPECT_EQ(got.outcome, FeatureOutcome::kData);
        EXPECT_EQ(got.bytes, 5u);
        EXPECT_EQ(buf[1], 1);
    }
}

TEST(LightReplay, TheHeadsetPutsTheLightOnInterfaceOneOnlyWhenTheCaptureHasAny) {
    for (const bool withLight : {true, false}) {
        SCOPED_TRACE(withLight);
        capture::test::CaptureBuilder c;
        std::vector<uint8_t> light(64, 0xFF);
        light[0] = 0x25;
        c.Device(0, 1, 0x28DE, 0x2300, u"LHR-5A1B2C3D").Report(1000, 1, Imu(1));
        if (withLight) {
            c.Report(1500, 1, light, 0, 0x83);
        }
        std::string error;
        capture::ReplayPlan plan;
        auto source = capture::OpenPacketSource(c.bytes.data(), c.bytes.size(), error);
        ASSERT_TRUE(capture::ScanReplay(*source, {}, plan, error)) << error;
        auto reader = std::make_unique<capture::ReplayReader>(
            capture::OpenPacketSource(c.bytes.data(), c.bytes.size(), error), plan);
        ReplaySetup setup{std::make_shared<ReplayFeed>(plan, std::move(reader), Clock::now())};
        VirtualHeadset headset;
        ASSERT_TRUE(headset.Build(Scenario{}, "t", error, &setup)) << error;
        std::vector<HidDeviceInfo> found;
        headset.Bus().ListHidDevices(found);
        std::wstring lightPath;
        for (const HidDeviceInfo& d : found) {
            lightPath = d.interfaceNumber == 1 ? d.path : lightPath;
        }
        Handle h = headset.Bus().Open(lightPath);
        Handle event = headset.Bus().CreateReadEvent();
        uint8_t buf[65] = {};
        const ReadResult r = headset.Bus().ReadTimed(h, event, buf, sizeof buf, 300);
        EXPECT_EQ(r.outcome == ReadOutcome::Completed, withLight);
        if (withLight) {
            EXPECT_EQ(r.bytes, 64u);
            EXPECT_EQ(buf[0], 0x25);
        }
        headset.Bus().Close(event);
        headset.Bus().Close(h);
    }
}

}  // namespace
}  // namespace brisk::sim
