// fleet_log_gen COUNT SECONDS FOLDER: a lab's night of run logs for timing the
// fleet page by hand, COUNT logs of SECONDS status rows each over 20
// stations and 50 IMUs, every 10th run failing and every 25th cut off.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "report/fleet_logs.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: fleet_log_gen COUNT SECONDS FOLDER\n");
        return 64;
    }
    const int count = std::atoi(argv[1]);
    const std::filesystem::path folder = argv[3];
    std::filesystem::create_directories(folder);
    for (int i = 0; i < count; ++i) {
        brisk::test::FleetLogShape shape;
        char name[64];
        std::snprintf(name, sizeof name, "station-%02d", i % 20 + 1);
        shape.station = name;
        std::snprintf(name, sizeof name, "LHR-%08X", 0x5A1B0000u + static_cast<unsigned>(i % 50));
        shape.imuSerial = name;
        shape.seconds = std::atoi(argv[2]);
        shape.start += std::chrono::minutes(7 * i);
        shape.imuUnplugs = i % 4;
        shape.donDoffs = 1 + i % 3;
        shape.presentErrors = i % 10 == 9 ? 3 : 0;
        shape.seqGaps = static_cast<uint64_t>(i % 7);
        shape.p99Ms = 14.0 + 0.01 * (i % 50);
        shape.finished = i % 25 != 24;
        std::snprintf(name, sizeof name, "run-%03d.csv", i);
        std::ofstream out(folder / name, std::ios::binary);
        brisk::test::WriteFleetLog(out, shape);
        if (!out) {
            std::fprintf(stderr, "fleet_log_gen: cannot write %s\n",
                         (folder / name).string().c_str());
            return 73;
        }
    }
    return 0;
}
