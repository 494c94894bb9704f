// What every run shares, whichever GPU flavour drives it: the one stop flag
// the console raises, and the tool's version.
#include "app/driver.h"
#include "platform/console.h"

namespace brisk {

std::atomic<bool> stopRequested{false};
std::atomic<unsigned> consoleStops{0};

bool OnConsoleControl(unsigned long eventType) {
    if (eventType == kCtrlCEvent || eventType == kCtrlBreakEvent || eventType == kCtrlCloseEvent) {
        stopRequested.store(true);
        consoleStops.fetch_add(1);
        return true;
    }
    return false;
}

const char* ToolVersion() {
    return BRISK_VERSION;
}

}  // namespace brisk
