// brisk: the bench tool on the real headset.
#include "app/driver.h"
#include "platform/hid.h"

int main(int argc, char** argv) {
#if defined(__linux__)
    // The panels are driven through Direct3D 12 and DirectMode, which Linux
    // does not have: there brisk watches the sensors only.
    return brisk::RunBrisk(argc, argv, brisk::PlatformHidHost(), brisk::DisplayPaths::kSensorsOnly);
#else
    return brisk::RunBrisk(argc, argv, brisk::PlatformHidHost());
#endif
}
