#include "app/status_monitor.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "app/driver.h"
#include "app/status_line.h"
#include "log/run_log.h"
#include "platform/output.h"

namespace brisk {
inline namespace BRISK_GPU_NAMESPACE {
namespace {

// One status cycle's wait. With a display the cycle is always whole: the
// line after PRESENT RESULT counts the loop's last frames. In a sensors-only
// run a stop ends the wait at once, so the run ends when asked and its
// readers do not outlive the run by up to a second (they would count a
// stall of their own in it).
bool WaitOneCycle(bool stopAtOnce) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + std::chrono::seconds(1);
    if (!stopAtOnce) {
        std::this_thread::sleep_until(end);
        return true;
    }
    for (Clock::time_point now = Clock::now(); now < end; now = Clock::now()) {
        if (stopRequested.load()) {
            return false;
        }
        std::this_thread::sleep_until(std::min(end, now + std::chrono::milliseconds(20)));
    }
    return true;
}

}  // namespace

void StatusMonitor(const bool& haveProx, McuProx& prox, TundraImu& imu, PresentBackend* backend,
                   RunLog* log) {
    bool lastWorn = haveProx && prox.IsWorn();
    ImuStats prevImu;
    PresentStats prevP;
    while (!stopRequested.load()) {
        if (!WaitOneCycle(backend == nullptr)) {
            break;
        }
        ImuStats is = imu.Stats();
        PresentStats ps = backend != nullptr ? backend->Stats() : PresentStats{};

        if (haveProx && prox.IsWorn() != lastWorn) {
            lastWorn = prox.IsWorn();
            std::string event = FormatDonDoffLine(lastWorn, prox.Distance());
            PrintText(stdout, event);
        }

        ImuSample s;
        double age = -1.0;
        imu.Latest(s, &age);

        StatusFields f;
        f.framesThisCycle = ps.frames - prevP.frames;
        f.samplesThisCycle = is.samples - prevImu.samples;
        f.age = age;
        f.seqGaps = is.seqGaps;
        f.stalls = is.stalls;
        for (int i = 0; i < 3; ++i) {
            f.accel[i] = s.accel[i];
            f.gyro[i] = s.gyro[i];
        }
        f.haveProx = haveProx;
        if (haveProx) {
            f.distance = prox.Distance();  // distance first, then the state
            f.worn = prox.IsWorn();
        }
        f.freeRunning = ps.freeRunning;
        f.haveDisplay = backend != nullptr;
        f.maxFrameGapMs = ps.maxFrameGapMs;
        std::string line = FormatStatusLine(f);
        if (log != nullptr) {
            // A status row, with the figures, rather than a message row.
            PrintTextUnheard(stdout, line);
            log->Status(f, line);
        } else {
            PrintText(stdout, line);
        }

        prevImu = is;
        prevP = ps;
    }
}

}  // namespace BRISK_GPU_NAMESPACE
}  // namespace brisk
