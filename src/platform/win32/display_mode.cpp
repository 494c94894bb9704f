#include "platform/win32/display_mode.h"

#include <windows.h>

namespace brisk {

bool CurrentDisplaySettings(const wchar_t* device, DisplaySettings* out) {
    DEVMODEW dm = {};
    dm.dmSize = sizeof(dm);
    if (!EnumDisplaySettingsW(device, ENUM_CURRENT_SETTINGS, &dm)) {
        return false;
    }
    out->width = dm.dmPelsWidth;
    out->height = dm.dmPelsHeight;
    out->hz = dm.dmDisplayFrequency;
    return true;
}

long DisplayModeSwitch::Switch(const wchar_t* device, const DisplaySettings& mode) {
    DEVMODEW dm = {};
    dm.dmSize = sizeof(dm);
    dm.dmPelsWidth = mode.width;
    dm.dmPelsHeight = mode.height;
    dm.dmDisplayFrequency = mode.hz;
    dm.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT | (mode.hz > 1 ? DM_DISPLAYFREQUENCY : 0);
    const LONG result = ChangeDisplaySettingsExW(device, &dm, nullptr, CDS_FULLSCREEN, nullptr);
    if (result == DISP_CHANGE_SUCCESSFUL && switched.empty()) {
        switched = device;
    }
    return result;
}

DisplayModeSwitch::~DisplayModeSwitch() {
    if (!switched.empty()) {
        ChangeDisplaySettingsExW(switched.c_str(), nullptr, nullptr, 0, nullptr);
    }
}

}  // namespace brisk
