// brisk: the bench tool on the real headset.
#include "app/driver.h"
#include "platform/hid.h"

int main(int argc, char** argv) {
    return brisk::RunBrisk(argc, argv, brisk::PlatformHidHost());
}
