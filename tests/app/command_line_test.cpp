#include <gtest/gtest.h>

#include <vector>

#include "app/command_line.h"

namespace brisk {
namespace {

RunSettings Parse(std::vector<const char*> args) {
    args.insert(args.begin(), "brisk");
    return ParseCommandLine(static_cast<int>(args.size()), args.data());
}

TEST(CommandLine, DefaultsWithoutArguments) {
    RunSettings s = Parse({});
    EXPECT_EQ(s.imuSerial, "");
    EXPECT_EQ(s.runSeconds, 0.0);
}

TEST(CommandLine, SerialAndLastNumberWins) {
    RunSettings s = Parse({"10", "--imu-serial", "ABC", "20"});
    EXPECT_EQ(s.imuSerial, "ABC");
    EXPECT_EQ(s.runSeconds, 20.0);
}

TEST(CommandLine, TrailingOptionIsReadAsANumber) {
    RunSettings s = Parse({"30", "--imu-serial"});
    EXPECT_EQ(s.imuSerial, "");
    EXPECT_EQ(s.runSeconds, 0.0);
}

TEST(CommandLine, JoinedFormIsNotTheOption) {
    RunSettings s = Parse({"--imu-serial=ABC"});
    EXPECT_EQ(s.imuSerial, "");
    EXPECT_EQ(s.runSeconds, 0.0);
}

TEST(CommandLine, NumbersReadLikeAtof) {
    EXPECT_EQ(Parse({"-5"}).runSeconds, -5.0);
    EXPECT_EQ(Parse({"abc"}).runSeconds, 0.0);
    EXPECT_EQ(Parse({"  2.5s"}).runSeconds, 2.5);
    EXPECT_EQ(Parse({"--IMU-SERIAL", "7"}).runSeconds, 7.0);  // options are case-sensitive
}

TEST(CommandLine, OptionValueIsTakenVerbatim) {
    // The word after the option is the serial even when it looks like a number
    // or like the option itself.
    RunSettings s = Parse({"--imu-serial", "--imu-serial", "12"});
    EXPECT_EQ(s.imuSerial, "--imu-serial");
    EXPECT_EQ(s.runSeconds, 12.0);
}

}  // namespace
}  // namespace brisk
