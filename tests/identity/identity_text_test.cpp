// The bring-up block and the different-unit check as rows: what was read
// in, the exact lines out.
#include "identity/identity_text.h"

#include <gtest/gtest.h>

#include <functional>

namespace brisk::identity {
namespace {

Identity Sound() {
    Identity id;
    FirmwareVersion v;
    v.build = 1462663157, v.hardwareRevision = 3, v.hardwareMajor = 1, v.hardwareMinor = 2;
    v.fpgaMajor = 1, v.fpgaMinor = 9;
    id.firmware = v;
    id.range = ImuRange{3, 2, 2000, 8};
    auto c = std::make_shared<WatchmanConfig>();
    c->read = true;
    c->serial = "LHR-A824C054";
    c->positions.resize(32);
    id.config = c;
    return id;
}

TEST(IdentityText, TheBlockSaysWhatWasReadAndWhyNot) {
    struct Row {
        const char* name;
        std::function<void(Identity&, Problems&)> change;
        const char* block;
    };
    const char* const kFirst =
        "Watchman firmware: build 1462663157, hardware rev 3 (1.2.0), FPGA 1.9\n";
    // clang-format off
    const Row rows[] = {
        {"sound", [](Identity&, Problems&) {}, "Watchman firmware: build 1462663157, hardware rev 3 (1.2.0), FPGA 1.9\n"
         "Watchman IMU range: 2000 dps, 8 g\nWatchman configuration: serial LHR-A824C054, 32 photodiodes\n"
         "Watchman identity problems: none\n"},
        {"a replayed capture without version or range", [](Identity& id, Problems&) { id.firmware.reset(), id.range.reset(); },
         "Watchman firmware: not captured\nWatchman IMU range: not captured\n"
         "Watchman configuration: serial LHR-A824C054, 32 photodiodes\nWatchman identity problems: none\n"},
        {"unanswered", [](Identity& id, Problems& all) {
             id.range.reset();
             id.problems = {{code::kImuRangeUnreadable, "no answer to 0x01 in 16 tries"}};
             auto c = std::make_shared<WatchmanConfig>();
             c->problems = {{code::kConfigUnreadable, "no answer to 0x11 in 16 tries"}};
             id.config = c;
             all = {id.problems[0], c->problems[0]};
         }, nullptr},
        {"no configuration in the capture, firmware too old",
         [](Identity& id, Problems& all) {
             id.config = nullptr;
             all = {{code::kFirmwareTooOld, "build 1462663157 below 1500000000"}};
         }, nullptr},
        {"one photodiode, no serial", [](Identity& id, Problems&) {
             auto c = std::make_shared<WatchmanConfig>();
             c->read = true, c->serial = "", c->positions.resize(1);
             id.config = c;
         }, nullptr},
    };
    const char* const kTails[] = {
        nullptr, nullptr,
        "Watchman IMU range: not read (no answer to 0x01 in 16 tries)\n"
        "Watchman configuration: not read (no answer to 0x11 in 16 tries)\n"
        "Watchman identity problems: imu_range_unreadable, config_unreadable\n",
        "Watchman IMU range: 2000 dps, 8 g\nWatchman configuration: not captured\n"
        "Watchman identity problems: firmware_too_old\n",
        "Watchman IMU range: 2000 dps, 8 g\nWatchman configuration: serial none, 1 photodiode\n"
        "Watchman identity problems: none\n",
    };
    // clang-format on
    for (size_t i = 0; i < std::size(rows); ++i) {
        Identity id = Sound();
        Problems all;
        rows[i].change(id, all);
        const std::string block = FormatIdentityBlock(id, all);
        const std::string expected =
            rows[i].block != nullptr ? std::string(rows[i].block) : kFirst + std::string(kTails[i]);
        EXPECT_EQ(block, expected) << rows[i].name;
    }
}

TEST(IdentityText, ADifferentUnitNeedsBothSerials) {
    Identity id = Sound();
    EXPECT_EQ(UnitSerial(id, "LHR-USB"), "LHR-A824C054");
    auto c = std::make_shared<WatchmanConfig>();
    c->read = true, c->serial = "LHR-\x1b[2J";
    id.config = c;
    EXPECT_EQ(UnitSerial(id, "LHR-USB"), "LHR-?[2J");  // no escape reaches the console
    id.config = nullptr;
    EXPECT_EQ(UnitSerial(id, "LHR-USB"), "LHR-USB");
    EXPECT_EQ(UnitSerial(id, ""), "");
    EXPECT_FALSE(DifferentUnit("", "LHR-1"));
    EXPECT_FALSE(DifferentUnit("LHR-1", ""));
    EXPECT_FALSE(DifferentUnit("LHR-1", "LHR-1"));
    EXPECT_TRUE(DifferentUnit("LHR-1", "LHR-2"));
    EXPECT_EQ(UnitChangedProblem("LHR-1", "LHR-2"),
              (Problem{"watchman_changed",
                       "a different Watchman after a reconnect on the same port: LHR-1 before, "
                       "LHR-2 now"}));
}

}  // namespace
}  // namespace brisk::identity
