// The tool's own lines (device start-up, presenter checks, totals) would be
// mixed into the benchmark table; set-up and the present loop run with
// standard output and error sent to a scratch file, which is shown only when
// something went wrong.
#pragma once

#include <cstdio>
#include <string>

namespace brisk::bench {

class QuietOutput {
  public:
    QuietOutput();
    ~QuietOutput();  // restores the streams
    QuietOutput(const QuietOutput&) = delete;
    QuietOutput& operator=(const QuietOutput&) = delete;

    // Restores the streams now; returns what was printed meanwhile.
    std::string Restore();

  private:
    std::FILE* scratch = nullptr;
    int savedOut = -1;
    int savedErr = -1;
};

}  // namespace brisk::bench
