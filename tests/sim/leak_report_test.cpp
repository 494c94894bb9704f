#include <gtest/gtest.h>

#include "sim/leak_report.h"

namespace brisk::sim {
namespace {

// scripts/soak reads this line word for word.
TEST(OpenAtExit, EveryCountInItsPlace) {
    EXPECT_EQ(FormatOpenAtExit({}),
              "open at exit: 0 handles, 0 events, 0 bad closes, 0 gpu objects, 0 gpu handles");
    EXPECT_EQ(FormatOpenAtExit({1, 2, 3, 4, 5}),
              "open at exit: 1 handles, 2 events, 3 bad closes, 4 gpu objects, 5 gpu handles");
}

}  // namespace
}  // namespace brisk::sim
