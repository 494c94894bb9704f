#include "support/output_capture.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#ifdef _WIN32
#include <io.h>
#define BRISK_O_BINARY O_BINARY
#else
#include <unistd.h>
#define BRISK_O_BINARY 0
#endif

namespace brisk::test {

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    LineCutter cutter;
    auto keep = [&lines](std::string line) { lines.push_back(std::move(line)); };
    cutter.Take(text.data(), text.size(), keep);
    cutter.Finish(keep);
    return lines;
}

// One standard stream sent to a file of its own, put back on Restore.
class OutputCapture::Redirect {
  public:
    Redirect(int fd, const char* tag) : fd(fd) {
        static int serial = 0;
        path = std::filesystem::temp_directory_path() /
               ("brisk-capture-" +
                std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
                std::to_string(serial++) + "-" + tag + ".txt");
        Flush();
        saved = dup(fd);
        const int file = open(path.string().c_str(),
                              O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | BRISK_O_BINARY, 0600);
        dup2(file, fd);
        close(file);
    }
    ~Redirect() {
        Restore();
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
    Redirect(const Redirect&) = delete;
    Redirect& operator=(const Redirect&) = delete;

    void Restore() {
        if (saved < 0) {
            return;
        }
        Flush();
        dup2(saved, fd);
        close(saved);
        saved = -1;
    }
    std::string Text() const {
        Flush();
        std::ifstream in(path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

  private:
    void Flush() const { std::fflush(fd == 1 ? stdout : stderr); }

    int fd;
    int saved = -1;
    std::filesystem::path path;
};

OutputCapture::OutputCapture(PassOn passOn)
    : out(std::make_unique<Redirect>(1, "out")),
      err(std::make_unique<Redirect>(2, "err")),
      passOn(passOn) {}

OutputCapture::~OutputCapture() {
    const std::string o = Out();
    const std::string e = Err();
    out->Restore();
    err->Restore();
    if (passOn == PassOn::Yes) {
        std::fwrite(o.data(), 1, o.size(), stdout);
        std::fwrite(e.data(), 1, e.size(), stderr);
    }
}

std::string OutputCapture::Out() const {
    return out->Text();
}

std::string OutputCapture::Err() const {
    return err->Text();
}

}  // namespace brisk::test
