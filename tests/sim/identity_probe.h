// The identity read as a test drives it over any HID host: the reader's
// requests go out as feature reads, one at a time, and what came back is
// summed up in one line of "key=value" words, so that a read over the
// virtual bus, a replay, hidraw under umockdev (from another process) and an
// independent decoding can be compared word for word.
#pragma once

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "identity/identity_reader.h"
#include "platform/hid.h"

namespace brisk::test {

inline identity::FeatureAnswer AnswerOf(const FeatureResult& r, const uint8_t* buf) {
    switch (r.outcome) {
        case FeatureOutcome::kData:
            return identity::FeatureAnswer::Data(buf, r.bytes);
        case FeatureOutcome::kNotCaptured:
            return identity::FeatureAnswer::NotCaptured();
        case FeatureOutcome::kFailed:
            break;
    }
    return identity::FeatureAnswer::NoAnswer();
}

inline identity::Identity ReadIdentity(HidHost& host, Handle device) {
    identity::IdentityReader reader;
    while (auto request = reader.Next()) {
        std::vector<uint8_t> buf(request->bytes);
        const FeatureResult r = host.GetFeature(device, request->reportId, buf.data(),
                                                static_cast<uint32_t>(buf.size()));
        reader.Feed(AnswerOf(r, buf.data()));
    }
    return reader.Result();
}

// The path of interface 0 of the first Watchman (28DE:2300) the host lists.
inline std::wstring WatchmanImuPath(HidHost& host) {
    std::vector<HidDeviceInfo> devices;
    host.ListHidDevices(devices);
    for (const HidDeviceInfo& d : devices) {
        if (d.vendorId == 0x28DE && d.productId == 0x2300 && d.interfaceNumber == 0) {
            return d.path;
        }
    }
    return L"";
}

// One identity read on its own handle while another handle of the same
// interface reads the IMU stream, as the tool runs them: what the read gave
// and what the stream did meanwhile (and a little after).
struct StreamedRead {
    bool opened = false;
    identity::Identity identity;
    std::optional<std::string> usbSerial;  // absent: the device reports none
    uint64_t imuReports = 0;               // report 0x20 arrived
    uint64_t imuFailures = 0;              // a read failed (a time-out is no failure)
    double readMs = 0;                     // how long the identity read took
};

inline StreamedRead ReadWhileStreaming(HidHost& host, const std::wstring& path) {
    StreamedRead out;
    const Handle reads = host.Open(path);
    const Handle features = host.Open(path);
    const Handle event = host.CreateReadEvent();
    out.opened = reads != kInvalidHandle && features != kInvalidHandle && event != nullptr;
    if (out.opened) {
        uint32_t granted = 0;
        host.SetInputQueueDepth(reads, 512, granted);  // as the tool asks
        std::atomic<bool> done{false};
        std::thread stream([&] {
            uint8_t buf[65];
            while (!done.load()) {
                const ReadResult r = host.ReadTimed(reads, event, buf, sizeof buf, 50);
                if (r.outcome == ReadOutcome::Completed && r.bytes > 0 && buf[0] == 0x20) {
                    ++out.imuReports;
                } else if (r.outcome != ReadOutcome::Completed &&
                           r.outcome != ReadOutcome::TimedOut) {
                    ++out.imuFailures;
                }
            }
        });
        const auto began = std::chrono::steady_clock::now();
        out.identity = ReadIdentity(host, features);
        out.readMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began)
                .count();
        std::wstring serial;
        if (host.SerialString(features, serial)) {
            out.usbSerial = std::string(serial.begin(), serial.end());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        done = true;
        stream.join();
    }
    for (Handle h : {reads, features}) {
        if (h != kInvalidHandle) {
            host.Close(h);
        }
    }
    if (event != nullptr) {
        host.Close(event);
    }
    return out;
}

// "firmware=B range=G/A declared=N chunk_bytes=N json_bytes=N serial=S
// photodiodes=N problems=a,b": what was read, "-" for what was not.
inline std::string IdentityLine(const identity::Identity& id,
                                const std::vector<identity::Problem>& problems) {
    std::string line = "firmware=" + (id.firmware ? std::to_string(id.firmware->build) : "-");
    line += " range=" +
            (id.range ? std::to_string(id.range->gyroDps) + "/" + std::to_string(id.range->accelG)
                      : std::string("-"));
    if (id.config != nullptr && id.config->read) {
        const identity::WatchmanConfig& c = *id.config;
        line += " declared=" + std::to_string(c.compressedBytes) +
                " chunk_bytes=" + std::to_string(c.chunkBytes) +
                " json_bytes=" + std::to_string(c.jsonBytes) + " serial=" + c.serial +
                " photodiodes=" + std::to_string(c.Photodiodes());
    } else {
        line += id.config == nullptr ? " config=not-captured" : " config=unread";
    }
    line += " problems=";
    for (size_t i = 0; i < problems.size(); ++i) {
        line += (i ? "," : "") + problems[i].code;
    }
    return line;
}

}  // namespace brisk::test
