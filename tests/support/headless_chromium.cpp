#include "support/headless_chromium.h"

namespace brisk::test {

RunResult RunHeadlessChromium(const std::string& profileDir, const std::string& pagePath,
                              const std::vector<std::string>& what) {
    std::vector<std::string> argv = {kChromiumPath,
                                     "--headless",
                                     "--no-sandbox",
                                     "--disable-gpu",
                                     "--disable-quic",
                                     "--no-first-run",
                                     "--disable-background-networking",
                                     "--disable-component-update",
                                     "--disable-sync",
                                     "--hide-scrollbars",
                                     "--force-device-scale-factor=1",
                                     "--user-data-dir=" + profileDir,
                                     "--enable-logging=stderr",
                                     "--v=0"};
    argv.insert(argv.end(), what.begin(), what.end());
    argv.push_back("file://" + pagePath);
    RunOptions slow;
    slow.timeoutSeconds = 120;  // a loaded machine starts it slowly
    return RunProgram(argv, slow);
}

std::vector<std::string> ConsoleMessages(const RunResult& browser) {
    std::vector<std::string> messages;
    for (const auto* stream : {&browser.out, &browser.err}) {
        for (const TimedLine& l : *stream) {
            if (l.text.find(":CONSOLE") != std::string::npos ||
                l.text.find("Uncaught") != std::string::npos) {
                messages.push_back(l.text);
            }
        }
    }
    return messages;
}

}  // namespace brisk::test
