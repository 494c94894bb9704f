// The mode a desktop output scans out, read and switched through GDI, which
// speaks in whole hertz. Windows only.
#pragma once

#include <cstdint>
#include <string>

namespace brisk {

struct DisplaySettings {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t hz = 0;  // 0 or 1: the hardware's default rate, not told
};

// The current mode of display device `device` (\\.\DISPLAYn); false when
// GDI does not know the device.
bool CurrentDisplaySettings(const wchar_t* device, DisplaySettings* out);

// A mode switch that lasts as long as this object: it is made with
// CDS_FULLSCREEN, so it never reaches the registry, and the destructor puts
// the registry's mode back.
class DisplayModeSwitch {
  public:
    DisplayModeSwitch() = default;
    ~DisplayModeSwitch();
    DisplayModeSwitch(const DisplayModeSwitch&) = delete;
    DisplayModeSwitch& operator=(const DisplayModeSwitch&) = delete;

    // DISP_CHANGE_SUCCESSFUL (0) or ChangeDisplaySettingsExW's failure code.
    long Switch(const wchar_t* device, const DisplaySettings& mode);

  private:
    std::wstring switched;  // the device to restore; empty when none
};

}  // namespace brisk
