#include "app/status_monitor.h"

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "app/driver.h"
#include "app/metrics_feed.h"
#include "imu/watchman_light.h"
#include "run/status_line.h"
#include "log/log_writer.h"
#include "base/output.h"

namespace brisk {
inline namespace BRISK_GPU_NAMESPACE {

void StatusMonitor(const bool& haveProx, McuProx& prox, TundraImu& imu, PresentBackend* backend,
                   LogWriter* log, const WatchmanLight* light, uint32_t photodiodes) {
    bool lastWorn = haveProx && prox.IsWorn();
    // The first line's rate counts from here, not from the stream's start:
    // the samples of the start-up wait and the display set-up are no part
    // of one second's rate (the first line read 2500 Hz from a 1 kHz IMU).
    ImuStats prevImu = imu.Stats();
    PresentStats prevP;
    uint64_t prevPulses = light != nullptr ? light->Figures().pulses : 0;
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
        if (const std::optional<identity::ImuScale> scale = imu.Scale()) {
            const identity::Vec3 g = identity::AccelG(*scale, s.accel);
            const identity::Vec3 dps = identity::GyroDps(*scale, s.gyro);
            f.calibrated = true;
            for (int i = 0; i < 3; ++i) {
                f.accelG[i] = g[i];
                f.gyroDps[i] = dps[i];
            }
        }
        if (light != nullptr) {
            const LightFigures lf = light->Figures();
            f.haveLight = true;
            f.lightPulsesThisCycle = lf.pulses - prevPulses;
            f.photodiodesLit = lf.lit;
            f.photodiodes = photodiodes;
            f.stationsSeen = lf.stations;
            prevPulses = lf.pulses;
            PublishPhotodiodes(lf);
        }
        std::string line = FormatStatusLine(f);
        PublishStatus(f, is, backend != nullptr ? &ps : nullptr, imu.ChosenSerial());
        PublishIdentity(imu.Identity());
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
