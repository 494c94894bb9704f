// A file name in the temporary folder that is this process's own: the same
// test runs at once in several build trees (plain, sanitized, under Wine),
// and a fixed name would have them write into one another's file.
#pragma once

#include <filesystem>
#include <string>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace brisk::test {

// This process's number, to put in front of a file name.
inline std::string ProcessTag() {
#ifdef _WIN32
    return std::to_string(_getpid());
#else
    return std::to_string(static_cast<long>(getpid()));
#endif
}

inline std::string TempPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() / (ProcessTag() + "-" + name)).string();
}

}  // namespace brisk::test
