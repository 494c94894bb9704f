#include "sim/usb_tree.h"

#include <algorithm>
#include <cwchar>
#include <iterator>

namespace brisk::sim {
namespace {

// HidD_GetSerialNumberString fills 128 wide characters, terminator included.
constexpr size_t kSerialChars = 127;

// "virtual/3/28de:2300/if0": the bus's own path for interface 0 of device 3.
std::wstring HidPath(UsbDeviceId index, const UsbDeviceDesc& desc, size_t iface) {
    wchar_t ids[16];
    std::swprintf(ids, std::size(ids), L"%04x:%04x", unsigned(desc.vendorId),
                  unsigned(desc.productId));
    return L"virtual/" + std::to_wstring(index) + L"/" + ids + L"/if" + std::to_wstring(iface);
}

}  // namespace

UsbDeviceId UsbTree::Add(UsbDeviceDesc desc) {
    const UsbDeviceId index = UsbDeviceId(devices.size());
    Device d;
    for (size_t i = 0; i < desc.interfaces.size(); ++i) {
        d.hidPaths.push_back(HidPath(index, desc, i));
    }
    d.desc = std::move(desc);
    devices.push_back(std::move(d));
    return index;
}

bool UsbTree::SetPresent(UsbDeviceId device, bool present) {
    if (device < 0 || size_t(device) >= devices.size()) {
        return false;
    }
    devices[size_t(device)].present = present;
    return true;
}

bool UsbTree::Present(UsbDeviceId device) const {
    return devices[size_t(device)].present;
}

const UsbDeviceDesc& UsbTree::Desc(UsbDeviceId device) const {
    return devices[size_t(device)].desc;
}

HidInterfaceModel* UsbTree::Model(UsbDeviceId device, size_t iface) const {
    return devices[size_t(device)].desc.interfaces[iface].get();
}

bool UsbTree::FindHidPath(const std::wstring& path, UsbDeviceId& device, size_t& iface) const {
    for (size_t di = 0; di < devices.size(); ++di) {
        const Device& d = devices[di];
        auto it = std::find(d.hidPaths.begin(), d.hidPaths.end(), path);
        if (d.present && it != d.hidPaths.end()) {
            device = UsbDeviceId(di);
            iface = size_t(it - d.hidPaths.begin());
            return true;
        }
    }
    return false;
}

std::wstring UsbTree::Serial(UsbDeviceId device) const {
    return devices[size_t(device)].desc.serial.substr(0, kSerialChars);
}

void UsbTree::ListHidDevices(std::vector<HidDeviceInfo>& out) const {
    out.clear();
    for (size_t di = 0; di < devices.size(); ++di) {
        const Device& d = devices[di];
        if (!d.present) {
            continue;
        }
        std::vector<size_t> order = d.desc.listOrder;
        if (order.empty()) {
            for (size_t i = 0; i < d.hidPaths.size(); ++i) {
                order.push_back(i);
            }
        }
        for (size_t i : order) {
            if (i < d.hidPaths.size()) {
                const HidInterfaceModel* model =
                    i < d.desc.interfaces.size() ? d.desc.interfaces[i].get() : nullptr;
                out.push_back(HidDeviceInfo{d.desc.vendorId, d.desc.productId, int(i),
                                            Serial(UsbDeviceId(di)), d.hidPaths[i], d.desc.port,
                                            model ? model->InputReportIds() : std::nullopt});
            }
        }
    }
}

}  // namespace brisk::sim
