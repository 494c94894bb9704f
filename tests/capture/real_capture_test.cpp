// Real captures of Watchman-class IMUs (gzip'd classic pcap, usbmon 220),
// as published and as Wireshark's tools write them again, read through the
// packet source and compared with what tshark counts in them
// (tests/data/real/expected.txt, made by real_capture_truth.sh).
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "capture/packet_source.h"

namespace brisk::capture {
namespace {

using Counts = std::map<std::string, uint64_t>;

const char* const kCaptures[] = {"lh2_test_cal", "tracker-gen2-wired-buttons", "vive-index-cal"};

std::string Path(const char* dir, const std::string& file) {
    return std::string(dir) + "/" + file;
}

std::vector<uint8_t> Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// tshark's counts of NAME.pcap.gz, named as in expected.txt.
Counts Expected(const std::string& name) {
    std::ifstream in(Path(BRISK_REAL_CAPTURES, "expected.txt"));
    std::string line, word;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        words >> word;
        if (word != name + ".pcap.gz") {
            continue;
        }
        Counts c;
        while (words >> word) {
            const size_t eq = word.find('=');
            c[word.substr(0, eq)] = std::stoull(word.substr(eq + 1));
        }
        return c;
    }
    ADD_FAILURE() << "no counts for " << name;
    return {};
}

// What the source hands out, counted as real_capture_truth.sh counts it,
// and each packet's time and size for comparing files cut short.
struct Tally {
    Counts counts;
    std::vector<std::pair<uint64_t, uint32_t>> packets;
    SourceStatus end = SourceStatus::kBad;
    std::string error, description;

    void Add(const UsbPacket& p) {
        Counts& c = counts;
        c["first_us"] = c["packets"]++ == 0 ? p.micros : c["first_us"];
        c["last_us"] = p.micros;
        ++c[p.completion ? "completions" : "submissions"];
        c["failed"] += p.completion && p.outcome != UsbOutcome::kOk;
        c["setups"] += p.hasSetup;
        c["captured_bytes"] += p.captured;
        if (p.completion && p.transfer == UsbTransfer::kInterrupt && p.endpoint == 0x81 &&
            p.captured == 52 && p.data[0] == 0x20) {
            ++c["imu"];
            for (uint32_t i = 0; i < p.captured; ++i) {
                c["imu_byte_sum"] += p.data[i];
            }
        }
        packets.emplace_back(p.micros, p.captured);
    }
};

// From the file at `path`, or from `bytes` in memory when given.
Tally ReadCapture(const std::string& path, const std::vector<uint8_t>* bytes = nullptr) {
    Tally t;
    auto source = bytes != nullptr ? OpenPacketSource(bytes->data(), bytes->size(), t.error)
                                   : OpenPacketSource(path, t.error);
    if (source == nullptr) {
        return t;
    }
    t.description = source->Description();
    UsbPacket p;
    while ((t.end = source->Read(p, t.error)) == SourceStatus::kPacket) {
        t.Add(p);
    }
    return t;
}

void ExpectCounts(const Tally& t, Counts want) {
    ASSERT_EQ(t.end, SourceStatus::kEnd) << t.error;
    want["completions"] += want["errors"];  // an 'E' ends its transfer too
    want["failed"] += want["errors"];
    want.erase("errors");
    want.erase("submissions");
    want["submissions"] = want["packets"] - want["completions"];
    EXPECT_EQ(t.counts, want);
}

TEST(RealCaptures, EveryFormReadsAsTsharkCountsIt) {
    struct Form {
        const char* dir;
        const char* suffix;
        const char* description;
    } const forms[] = {
        {BRISK_REAL_CAPTURES, ".pcap.gz", "pcap, gzip, usbmon (220)"},
        {BRISK_DERIVED_CAPTURES, ".pcap", "pcap, usbmon (220)"},
        {BRISK_DERIVED_CAPTURES, ".ns.pcap", "pcap, usbmon (220)"},
        {BRISK_DERIVED_CAPTURES, ".pcapng", "pcapng, usbmon (220)"},
        {BRISK_DERIVED_CAPTURES, ".pcapng.gz", "pcapng, gzip, usbmon (220)"},
    };
    for (const char* name : kCaptures) {
        const Counts want = Expected(name);
        for (const Form& f : forms) {
            SCOPED_TRACE(Path(f.dir, name + std::string(f.suffix)));
            if (!std::ifstream(Path(f.dir, name + std::string(f.suffix)))) {
                ADD_FAILURE() << "missing: the build writes it with editcap and gzip";
                continue;
            }
            const Tally t = ReadCapture(Path(f.dir, name + std::string(f.suffix)));
            EXPECT_EQ(t.description, f.description);
            ExpectCounts(t, want);
        }
        // From memory, with trailing garbage after the gzip stream.
        std::vector<uint8_t> gz = Slurp(Path(BRISK_REAL_CAPTURES, name + std::string(".pcap.gz")));
        gz.insert(gz.end(), 100, 0x5A);
        ExpectCounts(ReadCapture("", &gz), want);
    }
}

TEST(RealCaptures, CutOrCorruptedGzipReadsUpToTheDamage) {
    const std::string path = Path(BRISK_REAL_CAPTURES, "vive-index-cal.pcap.gz");
    const Tally whole = ReadCapture(path);
    const auto gz = Slurp(path);
    for (const size_t cut : {size_t{400000}, gz.size() - 4}) {  // inside, and the trailer
        const std::vector<uint8_t> bytes(gz.begin(), gz.begin() + static_cast<long>(cut));
        const Tally t = ReadCapture("", &bytes);
        EXPECT_EQ(t.end, SourceStatus::kTruncated) << t.error;
        ASSERT_GT(t.packets.size(), 1000u);
        ASSERT_LE(t.packets.size(), whole.packets.size());
        EXPECT_TRUE(std::equal(t.packets.begin(), t.packets.end(), whole.packets.begin()));
    }
    // Damaged deflate data: refused, after the packets before the damage.
    auto damaged = gz;
    for (size_t i = 300000; i < 300100; ++i) {
        damaged[i] ^= 0xA5;
    }
    Tally t = ReadCapture("", &damaged);
    EXPECT_EQ(t.end, SourceStatus::kBad);
    EXPECT_FALSE(t.error.empty());
    EXPECT_TRUE(std::equal(t.packets.begin(), t.packets.begin() + 1000, whole.packets.begin()));
    // A damaged check sum: every packet, then zlib's reason.
    damaged = gz;
    damaged[gz.size() - 6] ^= 1;
    t = ReadCapture("", &damaged);
    EXPECT_EQ(t.end, SourceStatus::kBad);
    EXPECT_EQ(t.error, "corrupt gzip data (incorrect data check)");
    EXPECT_EQ(t.packets, whole.packets);
}

}  // namespace
}  // namespace brisk::capture
