// A host with one kind of device whose reads follow a script, each answered
// at once, so a reader's logic runs without waiting out real time-outs. Once
// the script is used up a read blocks until it is cancelled. It counts what
// is open and every close of something not open.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>

#include "platform/hid.h"

namespace brisk::test {

class ScriptedHost final : public HidHost {
  public:
    bool ListHidDevices(std::vector<HidDeviceInfo>&) override { return false; }
    Handle Open(const std::wstring&) override { return Track(devices); }
    bool Attributes(Handle, HidAttributes&) override { return false; }
    bool SerialString(Handle, std::wstring&) override { return false; }
    bool SetFeature(Handle, const uint8_t*, size_t) override { return false; }
    Handle CreateReadEvent() override { return Track(events); }
    ReadResult ReadTimed(Handle, Handle, uint8_t* buf, uint32_t length, uint32_t) override {
        std::unique_lock<std::mutex> lock(mtx);
        if (!script.empty()) {
            const ReadResult next = script.front();
            script.pop_front();
            if (next.outcome == ReadOutcome::Completed) {
                std::memset(buf, 0xA5, std::min(next.bytes, length));
            }
            return next;
        }
        reading = true;
        changed.notify_all();
        changed.wait(lock, [&] { return cancelled; });
        cancelled = false;
        reading = false;
        return {ReadOutcome::FailedAfterPending, 0, kErrorOperationAborted};
    }
    void CancelAll(Handle) override {
        std::lock_guard<std::mutex> lock(mtx);
        cancelled = true;
        changed.notify_all();
    }
    void Close(Handle h) override {
        std::lock_guard<std::mutex> lock(mtx);
        badCloses += devices.erase(h) + events.erase(h) == 1 ? 0 : 1;
    }
    // Grants up to `deepest`; `deepest` 0 stands for a depth that cannot be read back.
    bool SetInputQueueDepth(Handle, uint32_t wanted, uint32_t& granted) override {
        std::lock_guard<std::mutex> lock(mtx);
        ++depthRequests;
        granted = std::min(wanted, deepest);
        return wanted <= deepest;
    }

    // What the next reads return, in order.
    void Script(std::initializer_list<ReadResult> reads) {
        std::lock_guard<std::mutex> lock(mtx);
        script.insert(script.end(), reads);
    }
    void SetDeepestQueue(uint32_t depth) {
        std::lock_guard<std::mutex> lock(mtx);
        deepest = depth;
    }
    // Until a read blocks with the script used up.
    void WaitUntilReading() {
        std::unique_lock<std::mutex> lock(mtx);
        changed.wait(lock, [&] { return reading; });
    }
    size_t OpenDevices() {
        std::lock_guard<std::mutex> lock(mtx);
        return devices.size();
    }
    size_t Open() {
        std::lock_guard<std::mutex> lock(mtx);
        return devices.size() + events.size();
    }
    int BadCloses() {
        std::lock_guard<std::mutex> lock(mtx);
        return badCloses;
    }
    int DepthRequests() {
        std::lock_guard<std::mutex> lock(mtx);
        return depthRequests;
    }

  private:
    Handle Track(std::set<Handle>& into) {
        std::lock_guard<std::mutex> lock(mtx);
        Handle h = reinterpret_cast<Handle>(static_cast<intptr_t>(++next));
        into.insert(h);
        return h;
    }

    std::mutex mtx;
    std::condition_variable changed;
    std::deque<ReadResult> script;
    std::set<Handle> devices;
    std::set<Handle> events;
    intptr_t next = 0;
    uint32_t deepest = 512;
    int badCloses = 0;
    int depthRequests = 0;
    bool reading = false;
    bool cancelled = false;
};

}  // namespace brisk::test
