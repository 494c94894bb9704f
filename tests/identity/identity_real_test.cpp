// The identity reads in the real captures, taken out through the packet
// source (the reader replay uses) and answered to the identity reader the
// way a replay would: each request gets the capture's next answer to that
// report, or "not captured" when it holds none. What the reader makes of
// them must equal config_truth.py's decoding (config_expected.txt).
#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <map>
#include <sstream>

#include "capture/packet_source.h"
#include "identity/identity_reader.h"

namespace brisk::identity {
namespace {

using capture::UsbPacket;

struct Exchange {
    bool answered = false;
    std::vector<uint8_t> data;
};
// Per USB address, per feature report: the answers in the order they came.
using Answers = std::map<int, std::map<uint8_t, std::deque<Exchange>>>;

Answers FeatureAnswers(const std::string& file) {
    std::string error;
    auto source = capture::OpenPacketSource(std::string(BRISK_REAL_CAPTURES) + "/" + file, error);
    EXPECT_NE(source, nullptr) << error;
    Answers answers;
    std::map<int, std::deque<capture::SetupPacket>> pending;  // control requests in flight
    UsbPacket p;
    while (source != nullptr && source->Read(p, error) == capture::SourceStatus::kPacket) {
        if (p.transfer != capture::UsbTransfer::kControl) {
            continue;
        }
        auto& inFlight = pending[p.device];
        if (!p.completion) {
            inFlight.push_back(p.setup);  // one endpoint 0: completions come in this order
            continue;
        }
        if (inFlight.empty()) {
            continue;
        }
        const capture::SetupPacket s = inFlight.front();
        inFlight.pop_front();
        if (s.requestType == 0xA1 && s.request == 1 && (s.value >> 8) == 3) {  // GET_REPORT feature
            answers[p.device][s.value & 0xFF].push_back(
                {p.outcome == capture::UsbOutcome::kOk, {p.data, p.data + p.captured}});
        }
    }
    return answers;
}

// Drives the reader to its end with a capture's answers for one device.
Identity Replay(std::map<uint8_t, std::deque<Exchange>>& byReport) {
    IdentityReader reader;
    while (auto request = reader.Next()) {
        auto& queue = byReport[request->reportId];
        if (queue.empty()) {
            reader.Feed(FeatureAnswer::NotCaptured());
            continue;
        }
        const Exchange e = queue.front();
        queue.pop_front();
        reader.Feed(e.answered ? FeatureAnswer::Data(e.data.data(), e.data.size())
                               : FeatureAnswer::NoAnswer());
    }
    return reader.Result();
}

std::map<std::string, std::string> TruthLine(const std::string& line) {
    std::map<std::string, std::string> fields;
    std::istringstream words(line);
    std::string word;
    words >> fields["file"];
    while (words >> word) {
        fields[word.substr(0, word.find('='))] = word.substr(word.find('=') + 1);
    }
    return fields;
}

TEST(IdentityRealCaptures, ConfigurationReadsEqualTheIndependentDecoding) {
    std::ifstream truth(std::string(BRISK_REAL_CAPTURES) + "/config_expected.txt");
    std::map<std::string, Answers> captures;
    std::string line;
    int configs = 0;
    while (std::getline(truth, line)) {
        auto t = TruthLine(line);
        if (!captures.count(t["file"])) {
            captures[t["file"]] = FeatureAnswers(t["file"]);
        }
        SCOPED_TRACE(line);
        auto& device = captures[t["file"]][std::stoi(t["address"])];
        if (t.count("range_modes")) {  // the controller's one answer to 0x01
            ImuRange range;
            std::string why;
            const auto& answer = device[kRangeModesReport].back().data;
            ASSERT_EQ(DecodeRange(answer.data(), answer.size(), range, why), Decoded::kOk);
            EXPECT_EQ(std::to_string(range.gyroMode) + "," + std::to_string(range.accelMode),
                      t["range_modes"]);
            EXPECT_EQ(range.gyroDps, 2000u);
            EXPECT_EQ(range.accelG, 8u);
            EXPECT_EQ(range.CountsPerG(), 4096.0);
            continue;
        }
        const bool askedRange = !device[kRangeModesReport].empty();
        const Identity id = Replay(device);
        ASSERT_NE(id.config, nullptr);
        const WatchmanConfig& c = *id.config;
        EXPECT_TRUE(c.read);
        EXPECT_EQ(std::to_string(c.compressedBytes), t["declared"]);
        EXPECT_EQ(std::to_string(c.chunkBytes), t["chunk_bytes"]);
        EXPECT_EQ(std::to_string(c.jsonBytes), t["json_bytes"]);
        EXPECT_EQ(c.serial, t["serial"]);
        EXPECT_EQ(std::to_string(c.Photodiodes()), t["photodiodes"]);
        EXPECT_EQ(std::to_string(c.tally.requests), t["requests"]);
        EXPECT_EQ(std::to_string(c.tally.mostTries), t["most_tries"]);
        EXPECT_TRUE(device[kConfigStartReport].empty() && device[kConfigChunkReport].empty())
            << "the reader asked as often as the capture's host did";
        EXPECT_EQ(c.imu.shape, CalibrationShape::kNested);
        EXPECT_FALSE(c.deviceClass.empty());
        EXPECT_FALSE(c.modelNumber.empty());
        EXPECT_EQ(id.range.has_value(), askedRange);
        EXPECT_FALSE(id.firmware.has_value());  // no capture holds a 0x05 read
        EXPECT_EQ(AllProblems(id, std::nullopt, {.minFirmwareBuild = 1, .serialPattern = "LHR-*"}),
                  Problems{});
        ++configs;
    }
    EXPECT_EQ(configs, 5);

    // index-lhv1's second receiver has nothing paired and never answers: the
    // read gives up on each request after kMaxTries and says so.
    auto unpaired = captures["index-lhv1.pcap.gz"][123];
    const Identity id = Replay(unpaired);
    EXPECT_EQ(id.tally.requests, 2u * kMaxTries);
    ASSERT_NE(id.config, nullptr);
    EXPECT_FALSE(id.config->read);
    Problems expected{{code::kImuRangeUnreadable, "no answer to 0x01 in 16 tries"},
                      {code::kConfigUnreadable,
                       "configuration read failed: no answer to 0x10 (start) in 16 tries"}};
    EXPECT_EQ(AllProblems(id, std::nullopt, {}), expected);
}

}  // namespace
}  // namespace brisk::identity
