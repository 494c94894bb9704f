// The child-process runner the end-to-end tests stand on: it must never
// deadlock on a chatty child, never hang on a stuck one, and deliver the
// console stop where asked.
#include <gtest/gtest.h>
#include <signal.h>

#include "support/subprocess.h"

namespace brisk::test {
namespace {

TEST(E2eSubprocess, ReadsBothStreamsToTheEndAndKeepsThemApart) {
    // Far more than a pipe holds on either stream, interleaved.
    RunResult run = RunProgram({"/bin/sh", "-c",
                                "i=0; while [ $i -lt 3000 ]; do "
                                "echo \"out line $i with some padding to fill the pipe\"; "
                                "echo \"err line $i\" >&2; i=$((i+1)); done; "
                                "printf 'no newline'; exit 7"},
                               {});
    ASSERT_TRUE(run.started);
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 7);
    EXPECT_FALSE(run.timedOut);
    ASSERT_EQ(run.out.size(), 3001u);
    ASSERT_EQ(run.err.size(), 3000u);
    EXPECT_EQ(run.out[2999].text, "out line 2999 with some padding to fill the pipe");
    EXPECT_EQ(run.out[3000].text, "no newline");
    EXPECT_EQ(run.err[1234].text, "err line 1234");
}

TEST(E2eSubprocess, KillsAChildThatOutlivesTheLimit) {
    RunOptions options;
    options.timeoutSeconds = 0.5;
    RunResult run = RunProgram({"/bin/sh", "-c", "echo started; exec sleep 30"}, options);
    EXPECT_TRUE(run.timedOut);
    EXPECT_FALSE(run.exited);
    EXPECT_EQ(run.termSignal, SIGKILL);
    EXPECT_LT(run.endSeconds, 5.0);
    ASSERT_EQ(run.out.size(), 1u);
    EXPECT_EQ(run.out[0].text, "started");
}

TEST(E2eSubprocess, SendsSigintWhenTheLineAppears) {
    RunOptions options;
    options.sigintOnLine = "ready";
    RunResult run = RunProgram({"/bin/sh", "-c",
                                "trap 'echo stopping; exit 3' INT; echo getting ready; "
                                "while :; do sleep 0.05; done"},
                               options);
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_FALSE(run.timedOut);
    EXPECT_GE(run.sigintSeconds, run.out.at(0).seconds);
    EXPECT_EQ(run.out.back().text, "stopping");
}

TEST(E2eSubprocess, AProgramThatDoesNotExistIsNotStarted) {
    RunResult run = RunProgram({"/nonexistent/brisk-e2e-program"}, {});
    EXPECT_FALSE(run.started);
    EXPECT_FALSE(run.exited);
}

}  // namespace
}  // namespace brisk::test
