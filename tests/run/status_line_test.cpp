#include <gtest/gtest.h>

#include "run/status_line.h"

namespace brisk {
namespace {

TEST(StatusLine, HealthyLineWithProximity) {
    StatusFields f;
    f.framesThisCycle = 75;
    f.samplesThisCycle = 1000;
    f.age = 0.0021;
    f.seqGaps = 3;
    f.stalls = 1;
    f.accel[0] = 0;
    f.accel[1] = 0;
    f.accel[2] = 2048;
    f.gyro[0] = -4;
    f.gyro[1] = 7;
    f.gyro[2] = 0;
    f.haveProx = true;
    f.worn = true;
    f.distance = 1612;
    EXPECT_EQ(FormatStatusLine(f),
              "  fps= 75.0 imu=1000Hz age=0.00s gaps=3 stalls=1 |a|=2048 gyro=(-4,7,0) "
              "prox=worn(1612)\n");
}

TEST(StatusLine, NoSampleNoProximityFreeRunning) {
    StatusFields f;
    f.freeRunning = true;
    EXPECT_EQ(FormatStatusLine(f),
              "  fps=  0.0 imu=   0Hz age=-1.00s gaps=0 stalls=0 |a|=0 gyro=(0,0,0) prox=n/a"
              "  [FREE-RUN: vsync lost, throttled]\n");
}

// --optical adds the light's figures after the proximity, before a free-run
// tag; without it the line above is unchanged.
TEST(StatusLine, LightFiguresOnlyWithOptical) {
    StatusFields f;
    f.haveDisplay = false;
    f.haveLight = true;
    f.lightPulsesThisCycle = 4210;
    f.photodiodesLit = 16;
    f.photodiodes = 32;
    f.stationsSeen = 2;
    EXPECT_EQ(FormatStatusLine(f),
              "  fps=  n/a imu=   0Hz age=-1.00s gaps=0 stalls=0 |a|=0 gyro=(0,0,0) prox=n/a "
              "light=4210/s lit=16/32 stations=2\n");
    f.freeRunning = true;
    f.haveDisplay = true;
    EXPECT_TRUE(FormatStatusLine(f).ends_with(
        " light=4210/s lit=16/32 stations=2  [FREE-RUN: vsync lost, throttled]\n"));
}

TEST(StatusLine, WideCountsAreNotCut) {
    StatusFields f;
    f.framesThisCycle = 123456;
    f.samplesThisCycle = 123456;
    f.seqGaps = 18446744073709551615ull;
    f.accel[0] = f.accel[1] = f.accel[2] = -32768;
    f.haveProx = true;
    f.distance = 65535;
    std::string line = FormatStatusLine(f);
    EXPECT_NE(line.find("fps=123456.0 imu=123456Hz"), std::string::npos);
    EXPECT_NE(line.find("gaps=18446744073709551615"), std::string::npos);
    EXPECT_NE(line.find("|a|=56756 "), std::string::npos);
    EXPECT_NE(line.find("prox=away(65535)\n"), std::string::npos);
}

TEST(StatusLine, CalibratedUnitsInGAndDegreesPerSecond) {
    StatusFields f;
    f.samplesThisCycle = 1000;
    f.age = 0.004;
    f.accel[2] = 2048;  // the counts are not used once calibrated
    f.calibrated = true;
    f.accelG[0] = 0.0, f.accelG[1] = 0.6, f.accelG[2] = -0.8;
    f.gyroDps[0] = -0.25, f.gyroDps[1] = 12.04, f.gyroDps[2] = 2000.0;
    f.haveDisplay = false;
    EXPECT_EQ(FormatStatusLine(f),
              "  fps=  n/a imu=1000Hz age=0.00s gaps=0 stalls=0 |a|=1.000g "
              "gyro=(-0.2,12.0,2000.0)dps prox=n/a\n");
    // Whatever a calibration makes of the counts, the line stays whole.
    f.gyroDps[0] = 1e300;
    const std::string line = FormatStatusLine(f);
    EXPECT_EQ(line.back(), '\n');
}

TEST(StatusLine, MagnitudeIsTheVectorLength) {
    int16_t a[3] = {300, 400, 0};
    EXPECT_DOUBLE_EQ(AccelMagnitude(a), 500.0);
}

TEST(StatusLine, DonDoffLines) {
    EXPECT_EQ(FormatDonDoffLine(true, 1650), "prox: headset DONNED (distance 1650)\n");
    EXPECT_EQ(FormatDonDoffLine(false, 200), "prox: headset DOFFED (distance 200)\n");
}

TEST(StatusLine, SensorsOnlyVerdictRestsOnImuSamplesAlone) {
    RunTotals t;
    t.displayTested = false;
    t.presentErrors = 5;
    t.imuSamples = 1;
    EXPECT_EQ(FormatVerdictLine(t), "VERDICT: PASS (sensors only — no display tested)\n");
    t.imuSamples = 0;
    t.frames = 100;
    EXPECT_EQ(FormatVerdictLine(t), "VERDICT: FAIL (sensors only)\n");
}

// The run log names the verdict and every reason that counted; the health
// flags count when asked (--imu-health).
TEST(StatusLine, VerdictNamesAndFailReasons) {
    struct Case {
        bool displayTested, displayLost;
        uint64_t frames, presentErrors, imuSamples;
        const char* healthFlags;
        bool judgeHealth;
        const char* name;
        const char* reasons;
    };
    const Case cases[] = {
        {true, false, 100, 0, 10, "", false, "PASS", ""},
        {true, false, 0, 11, 0, "", false, "FAIL",
         "no frames presented; 11 present errors; no IMU samples"},
        {true, true, 0, 0, 0, "", false, "DISPLAY LOST", "display lost; no IMU samples"},
        {false, false, 0, 5, 1, "", false, "PASS (sensors only)", ""},
        {false, false, 0, 0, 0, "", false, "FAIL (sensors only)", "no IMU samples"},
        {true, false, 100, 0, 10, "gyro y stuck", false, "PASS", ""},
        {true, false, 100, 0, 10, "gyro y stuck", true, "FAIL", "IMU health: gyro y stuck"},
        {false, false, 0, 0, 10, "clock +3000 ppm beyond ±2500 ppm", true, "FAIL (sensors only)",
         "IMU health: clock +3000 ppm beyond ±2500 ppm"},
    };
    for (const Case& c : cases) {
        RunTotals t;
        t.displayTested = c.displayTested;
        t.displayLost = c.displayLost;
        t.frames = c.frames;
        t.presentErrors = c.presentErrors;
        t.imuSamples = c.imuSamples;
        t.imuHealthFlags = c.healthFlags;
        FailOn failOn;
        std::string error;
        ASSERT_TRUE(!c.judgeHealth || ParseFailOn("imu-health", failOn, error));
        EXPECT_EQ(VerdictName(t, failOn), c.name);
        EXPECT_EQ(FailReasons(t, failOn), c.reasons) << c.name;
        // The name agrees with the printed verdict.
        EXPECT_EQ(
            FormatVerdictLine(t, failOn).rfind("VERDICT: " + std::string(c.name).substr(0, 4), 0),
            0u);
    }
}

}  // namespace
}  // namespace brisk
