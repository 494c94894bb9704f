// Lines printed from several threads at once reach the console whole: each is
// one write, so no other thread's line can land inside it. Standard output is
// pointed at a file for the test; on Windows (under Wine) that is where a
// printf used to be written out in pieces.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/output.h"

#ifdef _WIN32
#include <io.h>
#define dup _dup
#define dup2 _dup2
#define close _close
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace brisk {
namespace {

constexpr int kThreads = 4;
constexpr int kLinesEach = 400;

// Lines of many lengths, some past the formatter's stack buffer.
std::string Payload(int thread, int n) {
    return std::string(static_cast<size_t>((n * 37 + thread * 11) % 700),
                       static_cast<char>('a' + thread));
}

TEST(Output, LinesFromManyThreadsArriveWhole) {
    const std::string path = testing::TempDir() + "brisk_output_test.txt";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fflush(stdout);
    const int savedOut = dup(fileno(stdout));
    ASSERT_GE(savedOut, 0);
    ASSERT_GE(dup2(fileno(file), fileno(stdout)), 0);

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int n = 0; n < kLinesEach; ++n) {
                if (n % 2 == 0) {
                    Print(stdout, "T%d %d %s\n", t, n, Payload(t, n).c_str());
                } else {
                    std::ostringstream text;
                    text << 'T' << t << ' ' << n << ' ' << Payload(t, n) << '\n';
                    PrintText(stdout, text.str());
                }
            }
        });
    }
    for (std::thread& th : threads) {
        th.join();
    }
    dup2(savedOut, fileno(stdout));
    close(savedOut);
    std::fclose(file);

    std::ifstream in(path, std::ios::binary);
    std::string line;
    std::map<int, int> nextOf;
    int lines = 0;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();  // text mode on Windows
        }
        std::istringstream fields(line);
        char tag = 0;
        int t = -1, n = -1;
        std::string payload;
        fields >> tag >> t >> n;
        fields.get();  // the space before the payload
        std::getline(fields, payload);
        ASSERT_EQ(tag, 'T') << "torn line: " << line.substr(0, 80);
        ASSERT_TRUE(t >= 0 && t < kThreads) << line.substr(0, 80);
        ASSERT_EQ(n, nextOf[t]) << "thread " << t << " lost or reordered a line";
        ASSERT_EQ(payload, Payload(t, n)) << "torn line: " << line.substr(0, 80);
        ++nextOf[t];
        ++lines;
    }
    EXPECT_EQ(lines, kThreads * kLinesEach);
    std::remove(path.c_str());
}

}  // namespace
}  // namespace brisk
