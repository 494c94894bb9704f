#include "device/reader_thread.h"

#include <system_error>

#include "platform/thread_priority.h"

namespace brisk {
namespace {

constexpr std::chrono::milliseconds kPauseStep{100};

}  // namespace

bool ReaderThread::CreateReadEvent() {
    if (readEvent == nullptr) {
        readEvent = host.CreateReadEvent();
    }
    return readEvent != nullptr;
}

bool ReaderThread::Start(std::function<void()> loop) {
    if (thread.joinable()) {
        thread.join();  // a reader that already left its loop; never assign over a live thread
    }
    stopFlag = false;
    running = true;
    try {
        thread = std::thread([this, loop = std::move(loop)] {
            // A reader that is scheduled late loses reports once the OS queue is full.
            RaiseCurrentThreadPriority();
            loop();
            running = false;
        });
    } catch (const std::system_error&) {
        running = false;
        Abandon();
        return false;
    }
    return true;
}

void ReaderThread::Abandon() {
    device.Close();
    if (readEvent != nullptr) {
        host.Close(readEvent);
        readEvent = nullptr;
    }
}

void ReaderThread::Stop() {
    if (thread.joinable()) {
        stopFlag = true;
        device.CancelRead();  // a pending read ends at once
        thread.join();
    }
    // The reader is gone: nobody else touches the handles now.
    Abandon();
    running = false;
}

bool ReaderThread::Pause(std::chrono::milliseconds duration) const {
    for (auto waited = std::chrono::milliseconds(0); waited < duration; waited += kPauseStep) {
        if (stopFlag) {
            return false;
        }
        std::this_thread::sleep_for(kPauseStep);
    }
    return !stopFlag;
}

}  // namespace brisk
