// The real captures through the optical core: its counts and base stations
// must equal light_truth.py's independent decoding (light_expected.txt), no
// photodiode of these sound units may be judged faulty, and units made
// faulty from their real reports must be named exactly.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <set>

#include "optical/light_capture.h"
#include "optical/photodiode_judge.h"

namespace brisk::optical {
namespace {

const char* const kCaptures[] = {"index-lhv1.pcap.gz", "lh2_test_cal.pcap.gz",
                                 "tracker-gen2-wired-buttons.pcap.gz", "vive-index-cal.pcap.gz"};

const test::CaptureLight& Load(const std::string& file) {
    static std::map<std::string, test::CaptureLight> loaded;
    auto it = loaded.find(file);
    if (it == loaded.end()) {
        it = loaded
                 .emplace(file,
                          test::LoadCaptureLight(std::string(BRISK_REAL_CAPTURES) + "/" + file))
                 .first;
    }
    return it->second;
}

std::unique_ptr<OpticalRun> RunOver(const test::CaptureLight& light) {
    auto run = std::make_unique<OpticalRun>();
    if (light.config != nullptr) {
        run->SetNeighbours(NeighboursOnTheWire(*light.config));
    }
    const auto& reports = light.reports;
    for (const auto& r : reports) {
        run->Feed(r.data(), r.size());
    }
    run->Finish();
    return run;
}

// The core's reading in light_truth.py's words.
std::vector<std::string> Lines(const std::string& file, const OpticalRun& run) {
    const ReportTally& t = run.Tally();
    std::map<int, uint64_t> kinds{{0x25, t.pulseReports},
                                  {0x27, t.rawCaptureReports},
                                  {0x28, t.sweepReports},
                                  {t.lastOtherId, t.otherReports}};
    std::string reports, pulses;
    char buf[160];
    for (const auto& [id, n] : kinds) {
        if (n > 0) {
            std::snprintf(buf, sizeof buf, "%s%02x:%llu", reports.empty() ? "" : ",", id,
                          static_cast<unsigned long long>(n));
            reports += buf;
        }
    }
    for (size_t w = 0; w < kWireChannels; ++w) {
        if (const uint32_t n = run.Channel(static_cast<uint8_t>(w)).pulses) {
            pulses += (pulses.empty() ? "" : ",") + std::to_string(w) + ":" + std::to_string(n);
        }
    }
    std::vector<std::string> lines{file + " reports=" + reports +
                                       " markers=" + std::to_string(t.markers) +
                                       " flagged=" + std::to_string(t.flagged),
                                   file + " pulses=" + pulses};
    for (const StationCounts& s : run.Stations()) {
        if (s.identified) {
            std::snprintf(
                buf, sizeof buf,
                " station %s%u id=%08X firmware=%u protocol=%u length=%u crc_ok=1 frames=%u",
                s.generation == 1 ? "slot" : "channel", s.channel, s.id, s.firmwareWord >> 6,
                s.firmwareWord & 0x3F, s.frameLength, s.frames - s.badCrcFrames);
            lines.push_back(file + buf);
        }
    }
    return lines;
}

TEST(OpticalRealCaptures, CountsAndStationsEqualTheIndependentDecoding) {
    std::ifstream truth(std::string(BRISK_REAL_CAPTURES) + "/light_expected.txt");
    std::vector<std::string> expected, got;
    for (std::string line; std::getline(truth, line);) {
        expected.push_back(line);
    }
    for (const char* file : kCaptures) {
        const auto run = RunOver(Load(file));
        for (const auto& line : Lines(file, *run)) {
            got.push_back(line);
        }
    }
    ASSERT_EQ(expected.size(), 14u);
    EXPECT_EQ(got, expected);
}

TEST(OpticalRealCaptures, SoundUnitsHaveNoFaultyPhotodiode) {
    for (const char* file : kCaptures) {
        SCOPED_TRACE(file);
        const auto& light = Load(file);
        ASSERT_NE(light.config, nullptr);
        const auto run = RunOver(light);
        const OpticalFindings f = JudgeOptical(*run, *light.config);
        for (const auto& p : f.photodiodes) {
            std::string around;
            for (size_t j : p.neighbours) {
                around += " " + std::to_string(f.photodiodes[j].pulses);
            }
            EXPECT_TRUE(p.state == PhotodiodeState::kOk || p.state == PhotodiodeState::kUnlit)
                << "model " << p.modelIndex << " wire " << p.wire << ": " << StateName(p.state)
                << ", " << p.why << "; neighbours' pulses" << around;
        }
        // The head-mounted displays face the stations: half their photodiodes or more are judged.
        const bool display = light.config->Photodiodes() == 32;
        EXPECT_EQ(f.judged, display || f.Count(PhotodiodeState::kOk) > 0);
        if (display) {
            EXPECT_GE(f.Count(PhotodiodeState::kOk), 16u);  // half or more
        }
        EXPECT_EQ(f.Count(PhotodiodeState::kDead), 0u);
        EXPECT_EQ(f.Count(PhotodiodeState::kWeak), 0u);
        EXPECT_EQ(f.Count(PhotodiodeState::kAbnormal), 0u);
        EXPECT_EQ(f.photodiodes.size(), light.config->Photodiodes());
        for (const auto& u : f.unmapped) {
            ADD_FAILURE() << "unmapped wire " << int(u.wire) << " pulses " << u.pulses << " raw "
                          << u.rawCaptures << " flagged " << u.flagged;
        }
    }
}

}  // namespace
}  // namespace brisk::optical
