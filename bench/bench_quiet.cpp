#include "bench_quiet.h"

#include <unistd.h>

#include <iostream>

namespace brisk::bench {

QuietOutput::QuietOutput() {
    std::cout.flush();
    std::fflush(stdout);
    std::fflush(stderr);
    scratch = std::tmpfile();
    if (scratch == nullptr) {
        return;  // then everything stays visible, which is harmless
    }
    savedOut = dup(STDOUT_FILENO);
    savedErr = dup(STDERR_FILENO);
    dup2(fileno(scratch), STDOUT_FILENO);
    dup2(fileno(scratch), STDERR_FILENO);
}

QuietOutput::~QuietOutput() {
    Restore();
}

std::string QuietOutput::Restore() {
    if (scratch == nullptr) {
        return {};
    }
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(savedOut, STDOUT_FILENO);
    dup2(savedErr, STDERR_FILENO);
    close(savedOut);
    close(savedErr);
    std::string text;
    std::rewind(scratch);
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, scratch)) > 0) {
        text.append(buf, n);
    }
    std::fclose(scratch);
    scratch = nullptr;
    return text;
}

}  // namespace brisk::bench
