// The input report IDs a report descriptor declares, item by item, and what
// a device's broken descriptor makes of them.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "platform/report_descriptor.h"

namespace brisk {
namespace {

using Ids = std::optional<std::vector<uint8_t>>;

TEST(ReportDescriptor, InputReportIdsItemByItem) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        Ids want;
    };
    const Case cases[] = {
        {"the Watchman's light interface: 0x25, 0x28, 0x27, 0x21 in, 0x04, 0x07 features",
         {0x06, 0x00, 0xFF, 0x09, 0x04, 0xA1, 0x01, 0x75, 0x08, 0x95, 0x3F, 0x85, 0x25,
          0x81, 0x02, 0x85, 0x28, 0x81, 0x02, 0x95, 0x3A, 0x85, 0x27, 0x81, 0x02, 0x85,
          0x21, 0x81, 0x02, 0x85, 0x04, 0xB1, 0x02, 0x85, 0x07, 0xB1, 0x02, 0xC0},
         std::vector<uint8_t>{0x21, 0x25, 0x27, 0x28}},
        {"inputs without report IDs",
         {0x09, 0x01, 0xA1, 0x01, 0x81, 0x02, 0xC0},
         std::vector<uint8_t>{}},
        {"features and outputs only: no input",
         {0x85, 0x04, 0xB1, 0x02, 0x85, 0x05, 0x91, 0x02},
         std::vector<uint8_t>{}},
        {"an ID declared twice is listed once",
         {0x85, 0x20, 0x81, 0x02, 0x81, 0x02, 0x85, 0x20, 0x81, 0x02},
         std::vector<uint8_t>{0x20}},
        {"0x85 0x81 as data of other items names nothing",
         {0x06, 0x85, 0x81, 0x26, 0x85, 0x81, 0x81, 0x02},
         std::vector<uint8_t>{}},
        {"ID in a two-byte field that fits a byte",
         {0x86, 0x30, 0x00, 0x81, 0x02},
         std::vector<uint8_t>{0x30}},
        {"Pop brings back the ID pushed",
         {0x85, 0x01, 0xA4, 0x85, 0x02, 0x81, 0x02, 0xB4, 0x81, 0x02},
         std::vector<uint8_t>{0x01, 0x02}},
        {"long item skipped whole, 0x85 inside it ignored",
         {0xFE, 0x02, 0x10, 0x85, 0x09, 0x85, 0x03, 0x81, 0x02},
         std::vector<uint8_t>{0x03}},
        {"four-byte item skipped",
         {0x27, 0xFF, 0xFF, 0x00, 0x00, 0x85, 0x21, 0x81, 0x02},
         std::vector<uint8_t>{0x21}},
        {"report ID 0 is not allowed", {0x85, 0x00, 0x81, 0x02}, std::nullopt},
        {"report ID without data", {0x84, 0x81, 0x02}, std::nullopt},
        {"report ID wider than a byte", {0x86, 0x01, 0x01, 0x81, 0x02}, std::nullopt},
        {"Pop without Push", {0xB4, 0x81, 0x02}, std::nullopt},
        {"item cut short", {0x85, 0x25, 0x81, 0x02, 0x95}, std::nullopt},
        {"four-byte item cut short", {0x27, 0xFF, 0xFF}, std::nullopt},
        {"long item cut short", {0xFE, 0x04, 0x10, 0xAA}, std::nullopt},
        {"long item header cut short", {0xFE, 0x04}, std::nullopt},
        {"empty", {}, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(InputReportIdsOfDescriptor(c.bytes.data(), c.bytes.size()), c.want) << c.what;
    }
    EXPECT_EQ(InputReportIdsOfDescriptor(nullptr, 4), std::nullopt);
}

TEST(ReportDescriptor, PushesBeyondAnyDevicesNeedAreRefused) {
    std::vector<uint8_t> deep(16, 0xA4);
    deep.insert(deep.end(), {0x85, 0x01, 0x81, 0x02});
    EXPECT_EQ(InputReportIdsOfDescriptor(deep.data(), deep.size()), Ids(std::vector<uint8_t>{1}));
    deep.insert(deep.begin(), 0xA4);
    EXPECT_EQ(InputReportIdsOfDescriptor(deep.data(), deep.size()), std::nullopt);
}

TEST(ReportDescriptor, DistinctIdsAndMembership) {
    EXPECT_EQ(DistinctReportIds({0x28, 0, 0x25, 0x28, 0x21}),
              (std::vector<uint8_t>{0x21, 0x25, 0x28}));
    EXPECT_EQ(DistinctReportIds({0, 0}), std::vector<uint8_t>{});
    const Ids light = std::vector<uint8_t>{0x25, 0x28};
    EXPECT_TRUE(DeclaresInputReport(light, 0x28));
    EXPECT_FALSE(DeclaresInputReport(light, 0x20));
    EXPECT_FALSE(DeclaresInputReport(std::nullopt, 0x25));
}

}  // namespace
}  // namespace brisk
