// Helpers for the proximity tests: capturing what the tool prints, and
// waiting on real-time conditions with margins a loaded machine can meet.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#ifdef _WIN32
#include <io.h>
#define BRISK_O_BINARY O_BINARY
#else
#include <unistd.h>
#define BRISK_O_BINARY 0
#endif

namespace brisk::test {

// Sends standard output and error to files for as long as it lives, so tests
// can compare the printed lines exactly, also while a reader thread prints.
// On the way out the captured text is passed on, so failures stay visible.
class OutputCapture {
  public:
    OutputCapture() : out(1, "out"), err(2, "err") {}
    ~OutputCapture() {
        std::string const o = Out();
        std::string const e = Err();
        out.Restore();
        err.Restore();
        fwrite(o.data(), 1, o.size(), stdout);
        fwrite(e.data(), 1, e.size(), stderr);
    }
    OutputCapture(const OutputCapture&) = delete;
    OutputCapture& operator=(const OutputCapture&) = delete;

    std::string Out() const {
        fflush(stdout);
        return out.Text();
    }
    std::string Err() const { return err.Text(); }

  private:
    class Redirect {
      public:
        Redirect(int fd, const char* tag) : fd(fd) {
            static int serial = 0;
            path = std::filesystem::temp_directory_path() /
                   ("brisk-prox-" +
                    std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
                    "-" + std::to_string(serial++) + "-" + tag + ".txt");
            fflush(fd == 1 ? stdout : stderr);
            saved = dup(fd);
            int const file = open(path.string().c_str(),
                                  O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | BRISK_O_BINARY, 0600);
            dup2(file, fd);
            close(file);
        }
        ~Redirect() {
            Restore();
            std::error_code ignored;
            std::filesystem::remove(path, ignored);
        }
        void Restore() {
            if (saved < 0) {
                return;
            }
            fflush(fd == 1 ? stdout : stderr);
            dup2(saved, fd);
            close(saved);
            saved = -1;
        }
        std::string Text() const {
            std::ifstream in(path, std::ios::binary);
            std::ostringstream s;
            s << in.rdbuf();
            return s.str();
        }

      private:
        int fd;
        int saved = -1;
        std::filesystem::path path;
    };

    Redirect out;
    Redirect err;
};

// Polls `condition` every few milliseconds; true as soon as it holds, false
// after `limit`. Limits are generous: they only bound a failing test.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    auto const end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

inline double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace brisk::test
