#include "app/status_monitor.h"

#include <chrono>
#include <string>
#include <thread>

#include "app/driver.h"
#include "app/metrics_feed.h"
#include "run/status_line.h"
#include "log/log_writer.h"
#include "platform/output.h"

namespace brisk {
inline namespace BRISK_GPU_NAMESPACE {

void StatusMonitor(const bool& haveProx, McuProx& prox, TundraImu& imu, PresentBackend* backend,
                   LogWriter* log) {
    bool lastWorn = haveProx && prox.IsWorn();
    ImuStats prevImu;
    PresentStats prevP;
    while (!stopRequested.load()) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        ImuStats is = imu.Stats();
        PresentStats ps = backend != nullptr ? backend->Stats() : PresentStats{};

        if (haveProx && prox.IsWorn() != lastWorn) {
            lastWorn = prox.IsWorn();
            std::string event = FormatDonDoffLine(lastWorn, prox.Distance());
            PrintText(stdout, event, lastWorn ? LineEvent::kDonned : LineEvent::kDoffed);
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
        PublishStatus(f, is, backend != nullptr ? &ps : nullptr, imu.ChosenSerial());
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
