// The open interface of a device read by one reader thread. The reader opens,
// replaces and closes it (loss, reconnect) while its owner's Stop, on another
// thread, may cancel the pending read. A small lock covers only the swap and
// the cancel, never a read, a wait or a close, so a cancel never reaches a
// handle that is being closed or replaced.
#pragma once

#include <mutex>

#include "platform/hid.h"

namespace brisk {

class ReaderDevice {
  public:
    explicit ReaderDevice(HidHost& host) : host(host) {}
    ReaderDevice(const ReaderDevice&) = delete;
    ReaderDevice& operator=(const ReaderDevice&) = delete;

    // For the thread that sets and closes it (the reader, or the owner
    // before the reader starts and after it has been joined); null when none.
    Handle Get() const { return handle; }

    void Set(Handle opened) {
        std::lock_guard<std::mutex> lock(mtx);
        handle = opened;
    }

    // Takes the handle out under the lock and closes it after: once out,
    // nobody can cancel it any more. Does nothing when none is open.
    void Close() {
        Handle old = nullptr;
        {
            std::lock_guard<std::mutex> lock(mtx);
            old = handle;
            handle = nullptr;
        }
        if (old != nullptr) {
            host.Close(old);
        }
    }

    // From any thread: ends a pending read at once.
    void CancelRead() {
        std::lock_guard<std::mutex> lock(mtx);
        if (handle != nullptr) {
            host.CancelAll(handle);
        }
    }

  private:
    HidHost& host;
    std::mutex mtx;
    Handle handle = nullptr;
};

}  // namespace brisk
