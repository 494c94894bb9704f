// Capturing what the tool prints, whether a function in this process prints
// it or a child process (subprocess.h): one way of cutting text into lines
// for both, and one way of catching this process's standard streams.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace brisk::test {

// Cuts text into lines as it arrives: '\n' ends a line, and a '\r' before it
// is dropped (a Windows runtime writes "\r\n"); a last line without an end
// counts once Finish is called.
class LineCutter {
  public:
    // Calls `sink(line)` for every line these bytes complete.
    template <class Sink>
    void Take(const char* data, size_t n, Sink&& sink) {
        for (size_t i = 0; i < n; ++i) {
            if (data[i] != '\n') {
                partial.push_back(data[i]);
                continue;
            }
            if (!partial.empty() && partial.back() == '\r') {
                partial.pop_back();
            }
            sink(std::exchange(partial, std::string()));
        }
    }
    template <class Sink>
    void Finish(Sink&& sink) {
        if (!partial.empty()) {
            sink(std::exchange(partial, std::string()));
        }
    }

  private:
    std::string partial;
};

std::vector<std::string> SplitLines(const std::string& text);

// Sends standard output and error to files for as long as it lives, so that
// tests see the printed text exactly, also what a reader thread prints. Out
// and Err return everything since the capture began. On the way out the text
// is passed on to the real streams unless asked not to, so that a failing
// test still shows it.
class OutputCapture {
  public:
    enum class PassOn { Yes, No };
    explicit OutputCapture(PassOn passOn = PassOn::Yes);
    ~OutputCapture();
    OutputCapture(const OutputCapture&) = delete;
    OutputCapture& operator=(const OutputCapture&) = delete;

    std::string Out() const;
    std::string Err() const;

  private:
    class Redirect;
    std::unique_ptr<Redirect> out;
    std::unique_ptr<Redirect> err;
    PassOn passOn;
};

struct Printed {
    std::vector<std::string> out;  // standard output, one entry per line
    std::vector<std::string> err;  // standard error
};

// Runs `f` with both streams captured; what it printed comes back by line.
template <class F>
Printed CaptureOutput(F&& f) {
    OutputCapture capture(OutputCapture::PassOn::No);
    f();
    return {SplitLines(capture.Out()), SplitLines(capture.Err())};
}

}  // namespace brisk::test
