// report_log_gen SECONDS FILE: writes a scenario-like run log of that many
// status rows, for measuring brisk-report on long runs by hand.
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "report/log_generator.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: report_log_gen SECONDS FILE\n");
        return 64;
    }
    brisk::test::LogShape shape;
    shape.seconds = std::atoi(argv[1]);
    shape.cycleSeconds = 600.0;
    std::ofstream out(argv[2], std::ios::binary);
    brisk::test::WriteLog(out, shape);
    return out ? 0 : 73;
}
