// What the run prints and weighs of the Watchman's light (--optical): the
// OPTICAL RESULT block and the optical figures of the verdict.
#pragma once

#include <string>

#include "optical/photodiode_judge.h"
#include "run/reasons.h"

namespace brisk {

// "OPTICAL RESULT: generation 2, 32 photodiodes: 29 ok, 1 dead, ...\n", then
// a line for each dead, weak and abnormal photodiode (by wire channel), each
// unmapped channel and each base station. Not judged: the block says why.
// `haveConfig` false: no factory configuration was read.
std::string FormatOpticalResult(const optical::OpticalFindings& findings, bool haveConfig);

// The verdict's optical figures; `require` is --optical require.
OpticalTotals OpticalTotalsOf(const optical::OpticalFindings& findings, uint64_t lightStalls,
                              bool require);

}  // namespace brisk
