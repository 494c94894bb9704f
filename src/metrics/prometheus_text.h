// A snapshot in Prometheus's text exposition format (version 0.0.4): one
// HELP and TYPE per family, `station` on every series, counters ending in
// _total, times in seconds. Pure, so that its exact text can be checked.
#pragma once

#include <string>
#include <string_view>

#include "metrics/metrics_board.h"

namespace brisk::metrics {

// The Content-Type /metrics answers with.
inline constexpr const char* kPrometheusContentType = "text/plain; version=0.0.4; charset=utf-8";

// A label value as the format quotes it: backslash, double quote and line
// feed escaped. Text that is not valid UTF-8 (a serial string is whatever
// the device sent) is read as Latin-1, since a scraper rejects the whole
// page over one bad byte.
std::string EscapeLabelValue(std::string_view value);

// The whole page, ending in a line feed.
std::string RenderPrometheus(const MetricsSnapshot& s);

}  // namespace brisk::metrics
