// The run's side of --metrics: the board the status monitor and the driver
// publish on, and the endpoint that serves it. Without --metrics every call
// here does nothing and costs nothing.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "imu/imu_report.h"
#include "imu/watchman_identity.h"
#include "imu/watchman_light.h"
#include "metrics/metrics_board.h"
#include "metrics/metrics_server.h"
#include "optical/photodiode_judge.h"
#include "platform/gpu_flavour.h"
#include "present/present_backend.h"
#include "run/command_line.h"
#include "run/reasons.h"
#include "run/status_line.h"

namespace brisk {
inline namespace BRISK_GPU_NAMESPACE {

// The station label: --station, else the host's name, else "unknown".
std::string StationName(const RunSettings& settings);

// How long /metrics stays up after the verdict when no scrape comes for it.
constexpr int kMetricsLingerSeconds = 5;

struct MetricsFeed;
class RunRecord;

// Owned by the driver for the whole run; one per run.
class MetricsExporter {
  public:
    MetricsExporter();
    // Stops publishing, then the endpoint.
    ~MetricsExporter();
    MetricsExporter(const MetricsExporter&) = delete;
    MetricsExporter& operator=(const MetricsExporter&) = delete;

    // True at once without --metrics. Otherwise listens, before any device is
    // touched, and takes the publishers' figures from then on; false, with
    // the one line printed, when the address cannot be listened on.
    bool Start(const RunSettings& settings, int argc, const char* const* argv);

    // From now on each status second also shows whether the devices `record`
    // watches are there. Called before the status monitor starts; `record`
    // outlives the monitor.
    void Follow(const RunRecord& record);

    // Shows the run ended with `exitCode`, then keeps /metrics up until a
    // scrape has carried that, a console stop, or kMetricsLingerSeconds.
    // Called once the run is shut down in full: a console window closing
    // meanwhile does not wait for it.
    void Finish(int exitCode);

  private:
    std::unique_ptr<MetricsFeed> feed;
    std::unique_ptr<metrics::MetricsServer> server;
};

// Each status second: the status line's figures and the totals behind them.
// `ps` is null in a sensors-only run.
void PublishStatus(const StatusFields& f, const ImuStats& is, const PresentStats* ps,
                   const std::string& imuSerial);

// With --identity, each status second: the last identity read.
void PublishIdentity(const WatchmanIdentity& watchman);

// With --optical: the photodiodes by state, each status second from the
// light's last snapshot, and at the end from the run's findings.
void PublishPhotodiodes(const LightFigures& light);
void PublishPhotodiodes(const optical::OpticalFindings& findings);

// At the verdict: the totals the final lines print. `passed`: a PASS.
void PublishTotals(const ImuStats& is, const PresentStats* ps, bool passed);

// At every end (a verdict, IMU FAILED, INIT FAILED): the devices' presence,
// the verdict as the summary names it and every reason raised. Shown once
// Finish says the run has ended.
void PublishEnd(const RunTotals& t, const std::vector<Reason>& reasons, const std::string& verdict);

}  // namespace BRISK_GPU_NAMESPACE
}  // namespace brisk
