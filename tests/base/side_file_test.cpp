// The one way the run writes a file beside its console: a path in any
// script, a disk that fills, a folder that is not there, and the one line
// that says the file stopped while the run goes on.
#include "base/side_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/output_capture.h"
#include "support/temp_path.h"

namespace brisk {
namespace {

namespace fs = std::filesystem;

TEST(SideFile, WritesAPathInAnyScriptAndSaysOnceWhenItStops) {
    const std::string name = "brisk-side-\xC3\xA9t\xC3\xA9-\xE6\x97\xA5.csv";  // "été", a kanji
    const fs::path where = fs::temp_directory_path() / fs::u8path(test::ProcessTag() + "-" + name);
    const std::u8string utf8 = where.u8string();
    const std::string path(utf8.begin(), utf8.end());
    std::string error;
    std::unique_ptr<SideFile> file = SideFile::Create("--log", path, error);
    ASSERT_TRUE(file) << error;
    std::string reason;
    EXPECT_TRUE(file->WriteFlushed("a,b\r\n", 5, reason));
    // Flushed: what is written is on disk before the file closes.
    std::ifstream in(where, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "a,b\r\n");

    const test::Printed printed = test::CaptureOutput([&] { file->Stop("a reason"); });
    EXPECT_EQ(printed.err, std::vector<std::string>{"brisk: --log: stopped writing " + path +
                                                    ": a reason; the run goes on"});
    EXPECT_FALSE(file->Open());
    EXPECT_FALSE(file->WriteFlushed("x", 1, reason));
    in.close();
    fs::remove(where);

    const std::string nowhere = (fs::temp_directory_path() / "no-such-folder" / "x.csv").string();
    EXPECT_FALSE(SideFile::Create("--log", nowhere, error));
    EXPECT_FALSE(error.empty());
}

#if defined(__linux__)
TEST(SideFile, AFullDiskFailsTheWriteWithItsReason) {
    std::string error;
    std::unique_ptr<SideFile> file = SideFile::Create("--record", "/dev/full", error);
    ASSERT_TRUE(file) << error;
    std::string reason;
    EXPECT_FALSE(file->WriteFlushed("0123456789", 10, reason));
    EXPECT_EQ(reason, "No space left on device");
    EXPECT_FALSE(file->Open());
}
#endif

}  // namespace
}  // namespace brisk
