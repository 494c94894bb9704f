// Made-up answers and configurations: every way a configuration read can go
// wrong as rows of one table, then the version and range decoders, the
// station's profile and checks, and the calibrated units.
#include <gtest/gtest.h>
#include <zlib.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <set>

#include "identity/identity_reader.h"
#include "identity/imu_units.h"

namespace brisk::identity {
namespace {

using nlohmann::json;
using Bytes = std::vector<uint8_t>;
// The answers a device gives, in order; an empty one stands for a stall.
using Script = std::vector<Bytes>;

Bytes Deflate(const std::string& text) {
    uLongf size = compressBound(text.size());
    Bytes out(size);
    compress2(out.data(), &size, reinterpret_cast<const Bytef*>(text.data()), text.size(), 9);
    out.resize(size);
    return out;
}

Bytes Answer(std::initializer_list<uint8_t> head) {
    Bytes a(head);
    a.resize(kFeatureReportBytes);
    return a;
}

// A device's answers for `stream`, declaring `declared` bytes (its size when 0).
Script Chunked(const Bytes& stream, size_t declared = 0) {
    declared = declared == 0 ? stream.size() : declared;
    Script s{Answer({0x10, uint8_t(declared >> 8), uint8_t(declared)})};
    Bytes data = stream;
    data.insert(data.end(), {0xFF, 0xFF});
    for (size_t at = 0; at < data.size(); at += 62) {
        const size_t n = std::min<size_t>(62, data.size() - at);
        Bytes chunk = Answer({0x11, uint8_t(n)});
        std::copy_n(data.begin() + at, n, chunk.begin() + 2);
        s.push_back(chunk);
    }
    s.push_back(Answer({0x11, 0}));
    return s;
}

json Sound() {
    return {
        {"device_serial_number", "LHR-0000CAFE"},
        {"device_class", "hmd"},
        {"model_number", "Test MP"},
        {"imu",
         {{"acc_bias", {0.01, 0.02, 0.03}}, {"acc_scale", {1, 1, 1}}, {"gyro_bias", {0, 0, 0}}}},
        {"lighthouse_config",
         {{"modelPoints", {{0, 0, 0}, {0, 0.1, 0}, {0.1, 0, 0}}},
          {"modelNormals", {{0, 0, 1}, {1, 0, 0}, {0, 0.6, 0.8}}},
          {"channelMap", {3, 7, 1}}}}};
}

Script Config(const std::function<void(json&)>& change) {
    json j = Sound();
    change(j);
    return Chunked(Deflate(j.dump()));
}

std::shared_ptr<const WatchmanConfig> ReadScript(const Script& script) {
    ConfigReader reader;
    size_t next = 0;
    while (reader.Next() && next < 100000) {
        const Bytes none;
        const Bytes& a = next < script.size() ? script[next] : none;
        ++next;
        reader.Feed(a.empty() ? FeatureAnswer::NoAnswer()
                              : FeatureAnswer::Data(a.data(), a.size()));
    }
    EXPECT_FALSE(reader.Next()) << "the read must end";
    return DecodeConfig(reader.Result());
}

TEST(IdentityInput, EveryFaultOfAConfigurationIsOneClearProblem) {
    const Script sound = Config([](json&) {});
    Script stalling;  // as on Linux: every request stalls once
    for (const Bytes& a : sound) {
        stalling.insert(stalling.end(), {Bytes(), a});
    }
    Script lateStart = sound;  // a first answer with no data in it
    lateStart.insert(lateStart.begin(), Answer({0x10, 0, 0}));
    Script cut = sound, doubled = sound, longByte = sound, foreign = sound, corrupt = sound;
    cut.erase(cut.end() - 2);
    doubled.insert(doubled.end() - 1, sound.begin() + 1, sound.end() - 1);
    longByte[2][1] = 63;
    foreign[2][0] = 0x12;
    for (size_t i = 1; i < 4; ++i) {
        corrupt[2][i + 20] ^= 0x5A;
    }
    const Bytes stream = Deflate(Sound().dump());
    const struct {
        const char* name;
        Script script;
        std::set<std::string> codes;
    } rows[] = {
        {"sound", sound, {}},
        {"calibration at the top level",
         Config([](json& j) {
             const json imu = j["imu"];
             j.erase("imu");
             for (const auto& [key, value] : imu.items()) {
                 j[key] = value;
             }
         }),
         {}},
        {"every request stalls once", stalling, {}},
        {"first answer empty", lateStart, {}},
        {"cut", cut, {code::kConfigUnreadable}},
        {"doubled", doubled, {code::kConfigUnreadable}},
        {"length byte past the answer", longByte, {code::kConfigUnreadable}},
        {"declared length short", Chunked(stream, stream.size() - 10), {code::kConfigUnreadable}},
        {"declared length long", Chunked(stream, stream.size() + 10), {code::kConfigUnreadable}},
        {"chunk of another report", foreign, {code::kConfigUnreadable}},
        {"never answers", {}, {code::kConfigUnreadable}},
        {"corrupt stream", corrupt, {code::kConfigInflate}},
        {"not zlib", Chunked(Bytes(200, '{')), {code::kConfigInflate}},
        {"inflates huge",
         Chunked(Deflate("\"" + std::string(1 << 20, ' ') + "\"")),
         {code::kConfigTooLarge}},
        {"not JSON", Chunked(Deflate("{\"device_class\": ")), {code::kConfigJson}},
        {"JSON not an object", Chunked(Deflate("[1, 2, 3]")), {code::kConfigJson}},
        {"nested too deep",
         Chunked(Deflate(std::string(40, '[') + std::string(40, ']'))),
         {code::kConfigJson}},
        {"normal of length 0",
         Config([](json& j) {
             j["lighthouse_config"]["modelNormals"][1] = {0, 0, 0};
         }),
         {code::kConfigNormals}},
        {"missing keys",
         Config([](json& j) {
             j.erase("device_serial_number");
             j["lighthouse_config"].erase("channelMap");
             j["imu"].erase("gyro_bias");
         }),
         {code::kConfigMissingKey}},
        {"point of two numbers",
         Config([](json& j) {
             j["lighthouse_config"]["modelPoints"][0] = {1, 2};
         }),
         {code::kConfigBadValue}},
        {"serial no string",
         Config([](json& j) { j["device_serial_number"] = 7; }),
         {code::kConfigBadValue}},
        {"counts disagree",
         Config([](json& j) {
             j["lighthouse_config"]["channelMap"] = {3, 7};
         }),
         {code::kConfigChannelMap}},
        {"channel twice",
         Config([](json& j) {
             j["lighthouse_config"]["channelMap"] = {3, 7, 3};
         }),
         {code::kConfigChannelMap}},
        {"no photodiodes",
         Config([](json& j) {
             for (const char* k : {"modelPoints", "modelNormals", "channelMap"}) {
                 j["lighthouse_config"][k] = json::array();
             }
         }),
         {code::kConfigChannelMap}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto config = ReadScript(row.script);
        ASSERT_NE(config, nullptr);
        std::set<std::string> codes;
        for (const Problem& p : config->problems) {
            codes.insert(p.code);
            EXPECT_GT(p.text.size(), 20u) << p.code;
        }
        EXPECT_EQ(codes, row.codes);
        EXPECT_EQ(config->read, row.codes.count(code::kConfigUnreadable) == 0);
        if (!row.codes.empty()) {
            continue;
        }
        EXPECT_EQ(config->serial, "LHR-0000CAFE");
        EXPECT_EQ(config->Photodiodes(), 3u);
        EXPECT_EQ(config->channelMap, (std::vector<int64_t>{3, 7, 1}));
        EXPECT_EQ(config->imu.accBias, (Vec3{0.01, 0.02, 0.03}));
        if (std::string(row.name).find("top level") != std::string::npos) {
            EXPECT_EQ(config->imu.shape, CalibrationShape::kTopLevel);
            continue;
        }
        EXPECT_EQ(config->imu.shape, CalibrationShape::kNested);
        EXPECT_EQ(config->compressedBytes, stream.size());
        EXPECT_EQ(config->chunkBytes, stream.size() + 2);
        EXPECT_EQ(config->jsonBytes, Sound().dump().size());
    }
}

TEST(IdentityInput, VersionAndRangeAnswers) {
    Bytes version = Answer({0x05, 0x35, 0x9C, 0x2F, 0x57});  // build 1462737973
    const char builtBy[] = "builder\x01", builtOn[] = "host";
    std::copy_n(builtBy, 8, version.begin() + 9);
    std::copy_n(builtOn, 4, version.begin() + 25);
    for (const auto& [at, value] :
         {std::pair{41, 0}, {42, 2}, {43, 1}, {44, 3}, {49, 9}, {50, 1}}) {
        version[at] = uint8_t(value);
    }
    FirmwareVersion v;
    std::string why;
    ASSERT_EQ(DecodeVersion(version.data(), version.size(), v, why), Decoded::kOk);
    EXPECT_EQ(v.build, 1462737973u);
    EXPECT_EQ(v.builtBy + "@" + v.builtOn, "builder?@host");
    EXPECT_EQ(v.HardwareText() + " fpga " + v.FpgaText(), "rev 3 (1.2.0) fpga 1.9");
    EXPECT_EQ(DecodeVersion(version.data(), 50, v, why), Decoded::kBad);
    EXPECT_EQ(DecodeVersion(Answer({0x05}).data(), kFeatureReportBytes, v, why), Decoded::kEmpty);
    EXPECT_EQ(DecodeVersion(Answer({0x01, 1}).data(), kFeatureReportBytes, v, why), Decoded::kBad);

    const struct {
        uint8_t gyro, accel;
        Decoded decoded;
        uint32_t dps, g;
    } modes[] = {{0, 1, Decoded::kOk, 250, 4},   {1, 0, Decoded::kOk, 500, 2},
                 {2, 3, Decoded::kOk, 1000, 16}, {3, 2, Decoded::kOk, 2000, 8},
                 {0, 0, Decoded::kEmpty, 0, 0},  {4, 1, Decoded::kBad, 0, 0}};
    for (const auto& m : modes) {
        ImuRange r;
        EXPECT_EQ(DecodeRange(Answer({0x01, m.gyro, m.accel}).data(), 3, r, why), m.decoded);
        EXPECT_EQ(r.gyroDps, m.dps);
        EXPECT_EQ(r.accelG, m.g);
    }

    // The whole read: a version that stalls past its tries, a range, no configuration.
    IdentityReader reader(3);
    const Bytes range = Answer({0x01, 1, 1});
    while (auto request = reader.Next()) {
        reader.Feed(request->reportId == kRangeModesReport ? FeatureAnswer::Data(range.data(), 3)
                    : request->reportId == kVersionReport  ? FeatureAnswer::NoAnswer()
                                                           : FeatureAnswer::NotCaptured());
    }
    const Identity id = reader.Result();
    EXPECT_EQ(id.problems, (Problems{{code::kVersionUnreadable, "no answer to 0x05 in 3 tries"}}));
    EXPECT_EQ(id.range->CountsPerG(), 8192.0);
    EXPECT_EQ(id.config, nullptr);
    EXPECT_EQ(id.tally.requests, 4u);  // "not captured" asks no device
}

TEST(IdentityInput, StationProfileAndChecks) {
    const struct {
        const char* text;
        const char* error;  // empty: parses
    } profiles[] = {
        {"# bench 3\n min_firmware = 1462738997 \n\nserial_pattern=LHR-*  # ours\n", ""},
        {"min_firmware = 12\nmin_firmware = 13\n", "line 2: min_firmware given twice"},
        {"min_firmware = -1", "line 1: '-1' is no firmware build number (0 to 4294967295)"},
        {"min_firmware = 4294967296",
         "line 1: '4294967296' is no firmware build number (0 to 4294967295)"},
        {"\nserial_pattern", "line 2: expected key = value"},
        {"serial_pattern = LHR *", "line 1: serial_pattern needs one word"},
        {"colour = red", "line 1: unknown key 'colour' (known: min_firmware, serial_pattern)"},
    };
    for (const auto& p : profiles) {
        StationExpectations e;
        std::string error;
        EXPECT_EQ(ParseStationProfile(p.text, e, error), *p.error == 0) << p.text;
        EXPECT_EQ(error, p.error);
    }
    StationExpectations e;
    std::string error;
    ASSERT_TRUE(ParseStationProfile(profiles[0].text, e, error));
    EXPECT_EQ(e, (StationExpectations{1462738997u, "LHR-*"}));

    for (const auto& [pattern, serial, match] : {std::tuple{"LHR-*", "LHR-DFCF00EE", true},
                                                 {"LHR-????00EE", "LHR-DFCF00EE", true},
                                                 {"*00EE", "LHR-DFCF00EE", true},
                                                 {"LHR-*F*E", "LHR-DFCF00EE", true},
                                                 {"LHR-???", "LHR-DFCF00EE", false},
                                                 {"lhr-*", "LHR-DFCF00EE", false},
                                                 {"", "", true}}) {
        EXPECT_EQ(SerialMatches(pattern, serial), match) << pattern << " " << serial;
    }

    WatchmanConfig config;
    config.serial = "LHR-DFCF00EE";
    FirmwareVersion firmware;
    firmware.build = 1462738996;
    const StationExpectations strict{1462738997u, "LHR-0*"};
    EXPECT_EQ(
        CheckStation({&config, &firmware, "LHR-A824C054"}, strict),
        (Problems{
            {code::kConfigSerialMismatch,
             "configuration serial LHR-DFCF00EE is not the USB serial LHR-A824C054"},
            {code::kFirmwareTooOld, "firmware build 1462738996 is older than 1462738997"},
            {code::kSerialPattern, "configuration serial LHR-DFCF00EE does not match LHR-0*"}}));
    // Nothing known is nothing wrong: an unread USB serial or firmware is no mismatch.
    EXPECT_EQ(CheckStation({&config, nullptr, std::nullopt}, {1462738997u, ""}), Problems{});
    EXPECT_EQ(CheckStation({nullptr, &firmware, "LHR-A824C054"}, {0u, "LHR-0*"}), Problems{});
}

TEST(IdentityInput, CalibratedUnits) {
    ImuCalibration cal;
    cal.shape = CalibrationShape::kNested;
    cal.accScale = {1.01, 1.0, 0.99};
    cal.accBias = {kStandardGravity * 0.01, 0, -kStandardGravity * 0.02};  // m/s^2
    cal.gyroScale = {1.0, 2.0, 1.0};
    cal.gyroBias = {std::numbers::pi / 180.0, 0, 0};  // rad/s: 1 degree per second
    const ImuScale scale = MakeImuScale({3, 1, 2000, 4}, cal);
    const int16_t accel[3] = {8192, -4096, 0};
    const int16_t gyro[3] = {16384, 1638, -32768};
    const Vec3 g = AccelG(scale, accel), dps = GyroDps(scale, gyro);
    EXPECT_NEAR(g[0], 1.0, 1e-12);
    EXPECT_NEAR(g[1], -0.5, 1e-12);
    EXPECT_NEAR(g[2], 0.02, 1e-12);
    EXPECT_NEAR(dps[0], 999.0, 1e-9);
    EXPECT_NEAR(dps[1], 2 * 1638 * 2000.0 / 32768, 1e-9);
    EXPECT_NEAR(dps[2], -2000.0, 1e-9);
    // Without a calibration the range alone scales.
    EXPECT_NEAR(AccelG(MakeImuScale({3, 1, 2000, 4}, ImuCalibration{}), accel)[0], 1.0, 1e-12);
}

}  // namespace
}  // namespace brisk::identity
