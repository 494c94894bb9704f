// The optical core over hand-made and damaged input: every bad report and
// every broken OOTX frame is counted and named, never a crash, and units
// made faulty from real reports are named exactly.
#include <gtest/gtest.h>

#include <map>

#include "optical/light_capture.h"
#include "optical/photodiode_judge.h"

namespace brisk::optical {
namespace {

using Report = std::vector<uint8_t>;

TEST(OpticalRun, StaysInFixedMemory) {
    EXPECT_LT(sizeof(OpticalRun), 64u * 1024);
}

void PutLe32(Report& r, uint32_t v) {
    for (int k = 0; k < 4; ++k) {
        r.push_back(static_cast<uint8_t>(v >> (8 * k)));
    }
}

// An OOTX frame's bits: preamble, then 16-bit words with their stuffing bit.
std::vector<bool> OotxBits(const Report& payload, bool spoilCrc) {
    Report bytes{static_cast<uint8_t>(payload.size()), static_cast<uint8_t>(payload.size() >> 8)};
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    if (payload.size() % 2) {
        bytes.push_back(0);
    }
    PutLe32(bytes, Crc32(payload.data(), payload.size()) ^ (spoilCrc ? 1u : 0u));
    std::vector<bool> bits(17, false);
    bits.push_back(true);
    for (size_t i = 0; i < bytes.size(); i += 2) {
        const uint16_t word = static_cast<uint16_t>(bytes[i] << 8 | bytes[i + 1]);
        for (int b = 15; b >= 0; --b) {
            bits.push_back((word >> b) & 1);
        }
        bits.push_back(true);
    }
    return bits;
}

// Second-generation sync words carrying `bits`, on `channel`, 15 to a report.
std::vector<Report> SyncReports(uint8_t channel, const std::vector<bool>& bits) {
    std::vector<Report> out;
    for (size_t i = 0; i < bits.size(); i += 14) {
        Report r{kSweepReportId, 0, static_cast<uint8_t>(channel << 4 | 1)};
        for (size_t k = i; k < bits.size() && k < i + 14; ++k) {
            PutLe32(r, (bits[k] ? 1u << 26 : 0u) | static_cast<uint32_t>(k) << 2);
        }
        r[1] = static_cast<uint8_t>(r.size() - 2);
        out.push_back(r);
    }
    return out;
}

const Report kPayload{0x8a, 0x0a, 0xe7, 0x17, 0x50, 0x92, 1, 2, 3, 4, 5, 6, 7, 8, 9};

TEST(Ootx, FramesOfBothOutcomesAndBrokenOnes) {
    OpticalRun run;
    std::vector<bool> bits = OotxBits(kPayload, false);
    const std::vector<bool> spoiled = OotxBits(kPayload, true);
    bits.insert(bits.end(), spoiled.begin(), spoiled.end());
    std::vector<bool> tooLong(17, false);  // a length of 0xFFFF
    tooLong.push_back(true);
    tooLong.insert(tooLong.end(), 16, true);
    tooLong.push_back(true);
    bits.insert(bits.end(), tooLong.begin(), tooLong.end());
    std::vector<bool> unstuffed = OotxBits(kPayload, false);
    unstuffed[18 + 16] = false;  // the first word's stuffing bit
    bits.insert(bits.end(), unstuffed.begin(), unstuffed.end());
    for (const Report& r : SyncReports(5, bits)) {
        run.Feed(r.data(), r.size());
    }
    const StationCounts& s = run.Stations()[kLh1Slots + 5];
    EXPECT_EQ(s.generation, 2);
    EXPECT_EQ(s.frames, 2u);
    EXPECT_EQ(s.badCrcFrames, 1u);
    EXPECT_EQ(s.brokenFrames, 2u);
    EXPECT_TRUE(s.identified);
    EXPECT_EQ(s.id, 0x925017E7u);
    EXPECT_EQ(s.firmwareWord >> 6, 42);
}

TEST(Ootx, ABadCrcAloneLeavesTheStationUnidentified) {
    OpticalRun run;
    for (const Report& r : SyncReports(2, OotxBits(kPayload, true))) {
        run.Feed(r.data(), r.size());
    }
    identity::WatchmanConfig none;
    const OpticalFindings f = JudgeOptical(run, none);
    ASSERT_EQ(f.stations.size(), 1u);
    EXPECT_EQ(f.stations[0].channel, 2);
    EXPECT_FALSE(f.stations[0].id.has_value());
    EXPECT_EQ(f.stations[0].ootxCrcOk, std::optional<bool>(false));
}

Report PulseReportOf(std::initializer_list<Pulse> pulses) {
    Report r{kPulseReportId};
    for (const Pulse& p : pulses) {
        r.push_back(p.channel);
        r.push_back(static_cast<uint8_t>(p.length));
        r.push_back(static_cast<uint8_t>(p.length >> 8));
        PutLe32(r, p.start);
    }
    while (r.size() < 64) {
        r.push_back(0xFF);
    }
    return r;
}

TEST(OpticalRun, BadInputIsCountedAndNamed) {
    const Report good = PulseReportOf({{3, 200, 1000},
                                       {40, 210, 1100},
                                       {kMarkerEntry, 5, 0},
                                       {4, kMarkerLength, 0},
                                       {5, 0x8001, 0}});
    struct Case {
        const char* what;
        Report report;
        uint64_t ReportTally::*counter;
        uint64_t expected;
    };
    const Case cases[] = {
        {"channel outside the map", good, &ReportTally::pulseReports, 1},
        {"markers", good, &ReportTally::markers, 2},
        {"flagged length", good, &ReportTally::flagged, 1},
        {"empty entries", good, &ReportTally::emptyEntries, 4},
        {"pulse report cut short", Report(good.begin(), good.begin() + 20),
         &ReportTally::cutReports, 1},
        {"no bytes", {}, &ReportTally::cutReports, 1},
        {"ID alone", {kSweepReportId}, &ReportTally::cutReports, 1},
        {"length past the end",
         {kSweepReportId, 60, 0x31, 2, 0, 0, 0},
         &ReportTally::cutReports,
         1},
        {"word cut", {kSweepReportId, 4, 0x31, 2, 0, 0}, &ReportTally::cutReports, 1},
        {"unreadable byte", {kSweepReportId, 2, 0x33, 0x31}, &ReportTally::unreadableBytes, 1},
        {"two stations on a channel", {kSweepReportId, 1, 0x35}, &ReportTally::channelConflicts, 1},
        {"word before a channel",
         {kSweepReportId, 4, 2, 0, 0, 0x08},
         &ReportTally::wordsWithoutChannel,
         1},
        {"raw capture cut", {kRawCaptureReportId, 0x84, 1, 2}, &ReportTally::cutReports, 1},
        {"another report", {0x21, 1, 2, 3}, &ReportTally::otherReports, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        OpticalRun run;
        run.Feed(c.report.empty() ? nullptr : c.report.data(), c.report.size());
        run.Finish();
        EXPECT_EQ(run.Tally().*c.counter, c.expected);
    }

    // Named: the channel outside the map, with its pulse; the sweep word
    // before any channel still counts for its photodiode (1).
    OpticalRun run;
    run.Feed(good.data(), good.size());
    const Report early{kSweepReportId, 4, 2, 0, 0, 0x08};
    run.Feed(early.data(), early.size());
    identity::WatchmanConfig config;
    config.positions = {{0, 0, 0}, {0.01, 0, 0}};
    config.normals = {{0, 0, 1}, {0, 0, 1}};
    config.channelMap = {3, 4};
    const OpticalFindings f = JudgeOptical(run, config);
    ASSERT_EQ(f.unmapped.size(), 3u);
    EXPECT_EQ(f.unmapped[0].wire, 1);
    EXPECT_EQ(f.unmapped[1].wire, 5);
    EXPECT_EQ(f.unmapped[1].flagged, 1u);
    EXPECT_EQ(f.unmapped[2].wire, 40);
    EXPECT_EQ(f.unmapped[2].pulses, 1u);
    EXPECT_EQ(f.photodiodes.size(), 2u);
    EXPECT_FALSE(f.judged);  // one neighbour each: too few to judge by
}

// Real reports made faulty.
using Reports = std::vector<Report>;

Reports Gen1Faulty(Reports reports, uint8_t drop, uint8_t shorten) {
    for (Report& r : reports) {
        for (size_t k = 1; r[0] == kPulseReportId && k + kPulseEntryBytes <= r.size();
             k += kPulseEntryBytes) {
            const uint16_t length = static_cast<uint16_t>(r[k + 1] | r[k + 2] << 8);
            if (r[k] == drop) {
                r[k] = kEmptyEntry;
            } else if (r[k] == shorten && length < kSyncMinTicks) {
                r[k + 1] = static_cast<uint8_t>(length / 64 + 1);  // a 10 us sweep as 0.1 us
                r[k + 2] = 0;
            }
        }
    }
    return reports;
}

// Keeps one in `keepOneIn` of `sensor`'s sweep words (none when 0).
Reports Gen2Thinned(Reports reports, uint8_t sensor, int keepOneIn) {
    int seen = 0;
    for (Report& r : reports) {
        if (r[0] != kSweepReportId || r.size() < 2) {
            continue;
        }
        Report out{r[0], 0};
        const size_t end = std::min<size_t>(r.size(), 2 + r[1]);
        for (size_t i = 2; i < end;) {
            const size_t n = (r[i] & 1) ? 1 : std::min<size_t>(4, end - i);
            const bool sweepOf = n == 4 && (r[i] & 2) && (r[i + 3] >> 3) == sensor;
            if (!sweepOf || (keepOneIn > 0 && seen++ % keepOneIn == 0)) {
                out.insert(out.end(), r.begin() + static_cast<long>(i),
                           r.begin() + static_cast<long>(i + n));
            }
            i += n;
        }
        out[1] = static_cast<uint8_t>(out.size() - 2);
        r = out;
    }
    return reports;
}

OpticalFindings Judged(const Reports& reports, const identity::WatchmanConfig& c) {
    auto run = std::make_unique<OpticalRun>();
    run->SetNeighbours(NeighboursOnTheWire(c));
    for (const Report& r : reports) {
        run->Feed(r.data(), r.size());
    }
    run->Finish();
    return JudgeOptical(*run, c);
}

std::map<int64_t, std::string> Faults(const OpticalFindings& f) {
    std::map<int64_t, std::string> out;
    for (const auto& p : f.photodiodes) {
        if (p.state != PhotodiodeState::kOk && p.state != PhotodiodeState::kUnlit) {
            out[p.wire] = StateName(p.state);
        }
    }
    return out;
}

TEST(OpticalFaultyUnits, MadeFromRealReportsAreNamedExactly) {
    const std::string real = BRISK_REAL_CAPTURES;
    const auto gen1 = test::LoadCaptureLight(real + "/index-lhv1.pcap.gz");
    ASSERT_NE(gen1.config, nullptr);
    const std::map<int64_t, std::string> gen1Expected{{5, "dead"}, {13, "abnormal"}};
    EXPECT_EQ(Faults(Judged(Gen1Faulty(gen1.reports, 5, 13), *gen1.config)), gen1Expected);

    const auto gen2 = test::LoadCaptureLight(real + "/vive-index-cal.pcap.gz");
    ASSERT_NE(gen2.config, nullptr);
    // Before the host switches it over the unit sends pulse reports too: drop those of 12 as well.
    const Reports thinned =
        Gen2Thinned(Gen2Thinned(Gen1Faulty(gen2.reports, 12, kEmptyEntry), 12, 0), 16, 200);
    const std::map<int64_t, std::string> gen2Expected{{12, "dead"}, {16, "weak"}};
    const OpticalFindings f = Judged(thinned, *gen2.config);
    EXPECT_EQ(Faults(f), gen2Expected);
    // The thinned photodiode saw few of the sweeps its neighbours saw; before, most.
    const auto share = [](const OpticalFindings& of, int64_t wire) {
        for (const auto& p : of.photodiodes) {
            if (p.wire == wire && p.neighbourSweeps > 0) {
                return static_cast<double>(p.sharedSweeps) / p.neighbourSweeps;
            }
        }
        return -1.0;
    };
    EXPECT_GE(share(f, 16), 0.0);
    EXPECT_LT(share(f, 16), 0.02);
    EXPECT_GT(share(Judged(gen2.reports, *gen2.config), 16), 0.5);
}

}  // namespace
}  // namespace brisk::optical
