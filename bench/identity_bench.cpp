// Inflating and checking a factory configuration, as a bring-up (and every
// reconnect) does once it has the compressed bytes: a 20 KB document, about
// twice the largest real one, shaped like them (32 photodiodes, a nested
// IMU calibration, the display's distortion tables as the bulk).
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <vector>

#include "bench_targets.h"
#include "identity/watchman_config.h"

namespace brisk {
namespace {

using nlohmann::json;

std::string Configuration(size_t bytes) {
    json points = json::array(), normals = json::array(), channels = json::array();
    for (int i = 0; i < 32; ++i) {
        const double a = i * 0.19634954, b = i * 0.071;
        points.push_back({0.09 * std::cos(a), 0.05 * std::sin(a), 0.03 + 0.001 * i});
        normals.push_back({std::cos(a) * std::cos(b), std::sin(a) * std::cos(b), std::sin(b)});
        channels.push_back(31 - i);
    }
    json doc = {{"device_serial_number", "LHR-DFCF00EE"},
                {"device_class", "hmd"},
                {"model_number", "Bench MP"},
                {"imu",
                 {{"acc_bias", {-0.0028, -0.0719, 0.05}},
                  {"acc_scale", {1.0017, 1.0017, 0.998}},
                  {"gyro_bias", {-0.0164, 0.0227, 0.0243}}}},
                {"lighthouse_config",
                 {{"modelPoints", points}, {"modelNormals", normals}, {"channelMap", channels}}}};
    for (int eye = 0; doc.dump().size() < bytes; ++eye) {
        json table = json::array();
        for (int k = 0; k < 64; ++k) {
            table.push_back(0.001 * std::sin(eye * 64 + k) + 1e-7 * k);
        }
        doc["tracking_to_eye_transform"].push_back({{"distortion", {{"coeffs", table}}}});
    }
    return doc.dump();
}

std::vector<uint8_t> Deflate(const std::string& text) {
    uLongf size = compressBound(text.size());
    std::vector<uint8_t> out(size);
    compress2(out.data(), &size, reinterpret_cast<const Bytef*>(text.data()), text.size(), 9);
    out.resize(size);
    return out;
}

void BM_InflateAndCheckConfiguration(benchmark::State& state) {
    bench::SetTarget(state, 2e6);
    const std::string text = Configuration(20 * 1024);
    const std::vector<uint8_t> stream = Deflate(text);
    size_t problems = 0;
    for (auto _ : state) {
        const auto config = identity::DecodeConfigStream(stream.data(), stream.size());
        problems += config->problems.size();
        benchmark::DoNotOptimize(config);
    }
    state.counters["json_bytes"] = static_cast<double>(text.size());
    state.counters["compressed_bytes"] = static_cast<double>(stream.size());
    state.counters["problems"] = static_cast<double>(problems);  // 0: the document is sound
}
BENCHMARK(BM_InflateAndCheckConfiguration);

}  // namespace
}  // namespace brisk

int main(int argc, char** argv) {
    return brisk::bench::RunWithTargets(argc, argv);
}
