// The life of a device reader: its read event, its device, its thread and its
// stop flag. HidReaderLoop (hid_reader_loop.h) runs on it for every device
// brisk reads, so a shutdown fix lands here once.
//
// Order of a start: CreateReadEvent, open the device into Device(), Start.
// When a step fails, Abandon closes what the earlier steps opened. Stop (and
// the destructor) ends everything: flag, cancel, join, close.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "platform/hid.h"
#include "device/reader_device.h"

namespace brisk {

class ReaderThread {
  public:
    explicit ReaderThread(HidHost& host) : host(host), device(host) {}
    ~ReaderThread() { Stop(); }
    ReaderThread(const ReaderThread&) = delete;
    ReaderThread& operator=(const ReaderThread&) = delete;

    // The manual-reset event every read of this reader waits on. False when
    // the system gives none.
    bool CreateReadEvent();
    Handle ReadEvent() const { return readEvent; }
    ReaderDevice& Device() { return device; }

    // Runs `loop` on a thread of its own, of raised priority (a reader
    // scheduled late loses reports); the loop returns once Stopping()
    // (or when it gives up by itself). False when no thread can be started:
    // the device and the event are closed then, as by Abandon.
    bool Start(std::function<void()> loop);
    // Closes the device and the event of a start that did not get as far as
    // Start (or whose Start failed). Only while no reader runs.
    void Abandon();
    // Raises the stop flag, ends a pending read at once, joins the reader and
    // closes the device and the event. Harmless when nothing was started.
    void Stop();

    bool Stopping() const { return stopFlag.load(); }
    // True from Start until the loop returns.
    bool Running() const { return running.load(std::memory_order_relaxed); }

    // Waits `duration` in steps short enough for Stop to stay prompt. False
    // as soon as a stop is requested, before or during the wait.
    bool Pause(std::chrono::milliseconds duration) const;

  private:
    HidHost& host;
    ReaderDevice device;
    Handle readEvent = nullptr;
    std::thread thread;
    std::atomic<bool> running{false};
    std::atomic<bool> stopFlag{false};
};

}  // namespace brisk
