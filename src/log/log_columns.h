// The run log's columns, in their order: the writer's and every reader's one
// list. Readers find the columns by name and skip names they do not know, so
// new columns go at the end.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace brisk {

enum LogColumn : size_t {
    kColTime,
    kColElapsed,
    kColKind,
    kColFps,
    kColFrameGapMax,
    kColImuHz,
    kColImuAge,
    kColSeqGaps,
    kColStalls,
    kColAccelMag,
    kColGyroX,
    kColGyroY,
    kColGyroZ,
    kColProx,
    kColProxDistance,
    kColFreeRun,
    kColStream,
    kColText,
    kColVersion,
    kColCommandLine,
    kColDisplay,
    kColMode,
    kColImuSerial,
    kColFrames,
    kColPresentErrors,
    kColWaitTimeouts,
    kColFreeRunEvents,
    kColImuSamples,
    kColImuReports,
    kColImuSeqGaps,
    kColImuStalls,
    kColVerdict,
    kColExitCode,
    kColFailReasons,
    kColFrameIntervals,
    kColFrameP50,
    kColFrameP99,
    kColFrameP999,
    kColFrameMax,
    kColFramesOver,
    kLogColumns
};

inline constexpr std::array<std::string_view, kLogColumns> kLogColumnNames = {
    "time",
    "elapsed_s",
    "kind",
    "fps",
    "frame_gap_max_ms",
    "imu_hz",
    "imu_age_s",
    "seq_gaps",
    "stalls",
    "accel_mag",
    "gyro_x",
    "gyro_y",
    "gyro_z",
    "prox",
    "prox_distance",
    "free_run",
    "stream",
    "text",
    "version",
    "command_line",
    "display",
    "mode",
    "imu_serial",
    "frames",
    "present_errors",
    "wait_timeouts",
    "free_run_events",
    "imu_samples",
    "imu_reports",
    "imu_seq_gaps",
    "imu_stalls",
    "verdict",
    "exit_code",
    "fail_reasons",
    "frame_intervals",
    "frame_p50_ms",
    "frame_p99_ms",
    "frame_p999_ms",
    "frame_max_ms",
    "frames_over_1_5_periods",
};

}  // namespace brisk
