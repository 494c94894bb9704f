// A HID interface model the test drives by hand: reports queued with Send
// come out at the next look, feature reports are recorded and may be answered.
#pragma once

#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

#include "sim/usb_bus.h"

namespace brisk::sim::test {

inline InputReport MakeReport(std::initializer_list<uint8_t> bytes) {
    InputReport r;
    for (uint8_t b : bytes) {
        r.bytes[r.length++] = b;
    }
    return r;
}

class ScriptedInterface final : public HidInterfaceModel {
  public:
    // Queues a report; the caller wakes readers with UsbBus::Notify.
    void Send(const InputReport& r) {
        std::lock_guard<std::mutex> lock(mtx);
        queued.push_back(r);
    }
    void AnswerFeaturesWith(const InputReport& r) {
        std::lock_guard<std::mutex> lock(mtx);
        answer = r;
        haveAnswer = true;
    }
    void RefuseFeatures() {
        std::lock_guard<std::mutex> lock(mtx);
        refuse = true;
    }
    std::vector<std::vector<uint8_t>> Features() const {
        std::lock_guard<std::mutex> lock(mtx);
        return features;
    }
    int ProduceCalls() const {
        std::lock_guard<std::mutex> lock(mtx);
        return produceCalls;
    }

    void Produce(Clock::time_point, std::vector<InputReport>& out) override {
        std::lock_guard<std::mutex> lock(mtx);
        ++produceCalls;
        out.insert(out.end(), queued.begin(), queued.end());
        queued.clear();
    }
    Clock::time_point NextDue(Clock::time_point now) const override {
        std::lock_guard<std::mutex> lock(mtx);
        return queued.empty() ? Clock::time_point::max() : now;
    }
    bool OnFeature(const uint8_t* report, size_t length, Clock::time_point) override {
        std::lock_guard<std::mutex> lock(mtx);
        features.emplace_back(report, report + length);
        if (refuse) {
            return false;
        }
        if (haveAnswer) {
            queued.push_back(answer);
        }
        return true;
    }

  private:
    mutable std::mutex mtx;
    std::deque<InputReport> queued;
    std::vector<std::vector<uint8_t>> features;
    InputReport answer;
    bool haveAnswer = false;
    bool refuse = false;
    int produceCalls = 0;
};

}  // namespace brisk::sim::test
