// The OPTICAL RESULT block and the verdict's optical figures from findings
// made by hand: every state, a channel outside the map, stations of both
// generations with and without a whole OOTX frame, nothing judged.
#include "log/optical_text.h"

#include <gtest/gtest.h>

#include "metrics/metrics_board.h"

namespace brisk {
namespace {

using optical::PhotodiodeState;

optical::PhotodiodeFinding Photodiode(int64_t wire, size_t index, uint32_t pulses,
                                      PhotodiodeState state, const char* why = "") {
    optical::PhotodiodeFinding p;
    p.wire = wire;
    p.modelIndex = index;
    p.pulses = pulses;
    p.state = state;
    p.why = why;
    return p;
}

TEST(OpticalText, NamesEveryFaultTheUnmappedChannelsAndTheStations) {
    optical::OpticalFindings f;
    f.judged = true;
    f.generation = 2;
    f.photodiodes = {Photodiode(1, 0, 900, PhotodiodeState::kOk),
                     Photodiode(6, 1, 0, PhotodiodeState::kDead, "no light"),
                     Photodiode(20, 2, 3, PhotodiodeState::kWeak),
                     Photodiode(25, 3, 0, PhotodiodeState::kUnlit),
                     Photodiode(8, 4, 9000, PhotodiodeState::kAbnormal, "too many"),
                     Photodiode(9, 5, 2, PhotodiodeState::kWeak, "thin")};
    f.unmapped = {{40, 12, 0, 0}};
    optical::StationFinding whole;
    whole.generation = 2;
    whole.channel = 6;
    whole.syncs = 500;
    whole.id = 0xA4DBC8A4;
    whole.firmware = 34;
    whole.ootxCrcOk = true;
    whole.frames = 1;
    optical::StationFinding bad;
    bad.generation = 1;
    bad.channel = 1;
    bad.syncs = 80;
    bad.ootxCrcOk = false;
    bad.frames = 2;
    bad.badCrcFrames = 2;
    optical::StationFinding young;
    young.generation = 2;
    young.channel = 10;
    young.syncs = 7;
    f.stations = {whole, bad, young};
    EXPECT_EQ(FormatOpticalResult(f, true),
              "OPTICAL RESULT: generation 2, 6 photodiodes: 1 ok, 1 dead, 2 weak, 1 abnormal, 1 "
              "unlit\n"
              "  dead channel 6 (photodiode 1): no light\n"
              "  weak channel 20 (photodiode 2): 3 pulses\n"
              "  abnormal channel 8 (photodiode 4): too many\n"
              "  weak channel 9 (photodiode 5): thin\n"
              "  channel 40 not in the channel map: 12 pulses, not judged\n"
              "  base station channel 6: id A4DBC8A4, firmware 34, OOTX CRC ok (1 frame, 0 with a "
              "bad CRC), 500 syncs\n"
              "  base station 2 (first generation): OOTX CRC bad (2 frames, 2 with a bad CRC), 80 "
              "syncs\n"
              "  base station channel 10: no whole OOTX frame yet, 7 syncs\n");

    const OpticalTotals t = OpticalTotalsOf(f, 1, false);
    EXPECT_EQ(t, (OpticalTotals{true, false, true, 1, 2, 1, 1, "channel 6", "channels 20, 9",
                                "channel 8"}));

    // Expected stations: the channel with syncs and the id that came whole
    // are seen; a channel of first-generation slot 1, an id no frame gave,
    // and a channel never heard are missing, each a line after the stations.
    using K = ExpectedStation::Kind;
    const std::vector<ExpectedStation> expected{{K::kChannel, 6},     {K::kId, 0xA4DBC8A4},
                                                {K::kChannel, 10},    {K::kChannel, 1},
                                                {K::kId, 0x925017E7}, {K::kChannel, 3}};
    f.missing = optical::MissingStations(expected, f.stations);
    EXPECT_EQ(f.missing, (std::vector<ExpectedStation>{
                             {K::kChannel, 1}, {K::kId, 0x925017E7}, {K::kChannel, 3}}));
    const std::string text = FormatOpticalResult(f, true);
    EXPECT_TRUE(
        text.ends_with("  base station channel 10: no whole OOTX frame yet, 7 syncs\n"
                       "  expected base station channel 1: never seen\n"
                       "  expected base station id 925017E7: no station gave that id\n"
                       "  expected base station channel 3: never seen\n"))
        << text;
    const OpticalTotals missing = OpticalTotalsOf(f, 0, false);
    EXPECT_EQ(missing.missingStations, 3u);
    EXPECT_EQ(missing.missingStationNames, "channel 1, id 925017E7, channel 3");

    // A channel seen without a sync (none yet) does not count as seen.
    f.stations[2].syncs = 0;
    EXPECT_EQ(optical::MissingStations({{K::kChannel, 10}}, f.stations).size(), 1u);
    EXPECT_TRUE(optical::MissingStations({}, f.stations).empty());
}

TEST(OpticalText, NothingJudgedSaysWhy) {
    optical::OpticalFindings f;
    f.photodiodes = {Photodiode(1, 0, 0, PhotodiodeState::kUnlit)};
    EXPECT_EQ(FormatOpticalResult(f, true),
              "OPTICAL RESULT: no base station in view: nothing judged\n");
    f.missing = {{ExpectedStation::Kind::kChannel, 0}};
    EXPECT_EQ(FormatOpticalResult(f, true),
              "OPTICAL RESULT: no base station in view: nothing judged\n"
              "  expected base station channel 0: never seen\n");
    f.missing.clear();
    EXPECT_EQ(FormatOpticalResult(f, false),
              "OPTICAL RESULT: no factory configuration: nothing judged\n");
    const OpticalTotals t = OpticalTotalsOf(f, 0, true);
    EXPECT_TRUE(t.checked && t.judgedRequired && !t.judged);
    EXPECT_EQ(t.dead + t.weak + t.abnormal + t.lightStalls, 0u);
}

// brisk_photodiodes names the states by their place in PhotodiodeState.
TEST(OpticalText, StateNamesAreTheMetricsLabelsInOrder) {
    for (size_t i = 0; i < metrics::kPhotodiodeStates; ++i) {
        EXPECT_STREQ(StateName(static_cast<PhotodiodeState>(i)), metrics::kPhotodiodeStateNames[i]);
    }
}

}  // namespace
}  // namespace brisk
