// The virtual bus's device tree as discovery walks it, and its handle book.
#include <gtest/gtest.h>

#include "sim/usb_bus.h"

namespace brisk::sim {
namespace {

const std::wstring kHeadsetPort = L"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)#USB(2)";
const std::wstring kMcuPort = L"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)#USB(1)";
const std::wstring kGuidTail = L"#{4d1e55b2-f16f-11cf-88cb-001111000030}";

// Three interfaces, listed MI_01, MI_02, MI_00 as a host may well do.
UsbDeviceDesc Tracker(std::wstring serial, std::wstring port) {
    UsbDeviceDesc d;
    d.vendorId = 0x28DE;
    d.productId = 0x2300;
    d.serial = std::move(serial);
    d.locationPath = std::move(port);
    d.interfaces = {std::make_shared<SilentInterface>(), std::make_shared<SilentInterface>(),
                    nullptr};
    d.listOrder = {1, 2, 0};
    return d;
}

UsbDeviceDesc Mcu(std::wstring port) {
    UsbDeviceDesc d;
    d.vendorId = 0x35BD;
    d.productId = 0x0101;
    d.locationPath = std::move(port);
    d.interfaces = {std::make_shared<SilentInterface>(), std::make_shared<SilentInterface>()};
    return d;
}

std::wstring Id(UsbBus& bus, DevNode n) {
    std::wstring id;
    EXPECT_TRUE(bus.DeviceId(n, id));
    return id;
}

DevNode Parent(UsbBus& bus, DevNode n) {
    DevNode p = 0;
    EXPECT_TRUE(bus.ParentNode(n, p));
    return p;
}

bool Begins(const std::wstring& s, const std::wstring& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

bool Ends(const std::wstring& s, const std::wstring& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

class UsbBusTree : public ::testing::Test {
  protected:
    void TearDown() override {
        EXPECT_EQ(bus.OpenHandles(), 0u);
        EXPECT_EQ(bus.OpenEvents(), 0u);
    }
    UsbBus bus;
};

TEST_F(UsbBusTree, InterfacesAreListedInTheDevicesOrderWithWindowsStylePaths) {
    bus.Attach(Tracker(L"LHR-5A1B2C3D", kHeadsetPort));
    std::vector<HidInterface> found{{L"stale", 99}};
    ASSERT_TRUE(bus.ListHidInterfaces(found));
    ASSERT_EQ(found.size(), 3u);
    const wchar_t* markers[] = {L"&mi_01#", L"&mi_02#", L"&mi_00#"};
    for (size_t i = 0; i < 3; ++i) {
        const std::wstring& path = found[i].path;
        EXPECT_NE(path.find(markers[i]), std::wstring::npos) << i;
        EXPECT_TRUE(Begins(path, L"\\\\?\\hid#vid_28de&pid_2300&mi_0")) << i;
        EXPECT_TRUE(Ends(path, L"&0&0000" + kGuidTail)) << i;
        EXPECT_EQ(path.find_first_of(L"ABCDEFGHIJKLMNOPQRSTUVWXYZ"), std::wstring::npos) << i;
    }
    // The path is the HID node's ID, lower-cased, with '#' for '\'.
    std::wstring hidId = Id(bus, found[2].node);
    EXPECT_TRUE(Begins(hidId, L"HID\\VID_28DE&PID_2300&MI_00\\8&")) << hidId;
    std::wstring expected =
        L"\\\\?\\hid#vid_28de&pid_2300&mi_00#" + hidId.substr(hidId.rfind(L'\\') + 1) + kGuidTail;
    EXPECT_EQ(found[2].path, expected);
    // Each interface is its own node with its own path.
    EXPECT_NE(found[0].node, found[2].node);
    EXPECT_NE(found[0].path.substr(40), found[1].path.substr(40));
}

TEST_F(UsbBusTree, ClimbFromTheHidNodePassesTheInterfaceNodeAndReachesTheDevice) {
    bus.Attach(Tracker(L"LHR-5A1B2C3D", kHeadsetPort));
    std::vector<HidInterface> found;
    bus.ListHidInterfaces(found);
    DevNode hid = found[2].node;
    DevNode iface = Parent(bus, hid);
    std::wstring ifaceId = Id(bus, iface);
    EXPECT_TRUE(Begins(ifaceId, L"USB\\VID_28DE&PID_2300&MI_00\\7&")) << ifaceId;
    DevNode usb = Parent(bus, iface);
    EXPECT_EQ(Id(bus, usb), L"USB\\VID_28DE&PID_2300\\LHR-5A1B2C3D");
    std::wstring lp;
    ASSERT_TRUE(bus.LocationPath(usb, lp));
    EXPECT_EQ(lp, kHeadsetPort);
    ASSERT_TRUE(bus.LocationPath(iface, lp));
    EXPECT_EQ(lp, kHeadsetPort + L"#USBMI(0)");
    EXPECT_FALSE(bus.LocationPath(hid, lp));

    // Above it: the hub, the root hub, the controller and the tree's root.
    DevNode hub = Parent(bus, usb);
    ASSERT_TRUE(bus.LocationPath(hub, lp));
    EXPECT_EQ(lp, L"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)");
    DevNode rootHub = Parent(bus, hub);
    EXPECT_TRUE(Begins(Id(bus, rootHub), L"USB\\ROOT_HUB30\\"));
    ASSERT_TRUE(bus.LocationPath(rootHub, lp));
    EXPECT_EQ(lp, L"PCIROOT(0)#PCI(1400)#USBROOT(0)");
    DevNode controller = Parent(bus, rootHub);
    EXPECT_TRUE(Begins(Id(bus, controller), L"PCI\\VEN_"));
    DevNode top = Parent(bus, controller);
    EXPECT_EQ(Id(bus, top), L"HTREE\\ROOT\\0");
    DevNode none = 12345;
    EXPECT_FALSE(bus.ParentNode(top, none));
    EXPECT_EQ(none, 12345u);
}

TEST_F(UsbBusTree, DevicesWithoutSerialGetAMadeUpInstanceAndShareTheirHub) {
    UsbDeviceId watchman = bus.Attach(Tracker(L"LHR-5A1B2C3D", kHeadsetPort));
    bus.Attach(Mcu(kMcuPort));
    std::vector<DevNode> mcu;
    ASSERT_TRUE(bus.ListDeviceNodes(L"USB\\VID_35BD&PID_0101", mcu));
    // The device node and its two interface nodes, not its HID nodes.
    ASSERT_EQ(mcu.size(), 3u);
    std::wstring id = Id(bus, mcu[0]);
    EXPECT_TRUE(Begins(id, L"USB\\VID_35BD&PID_0101\\6&")) << id;
    EXPECT_TRUE(Ends(id, L"&0&1")) << id;  // the port number, as Windows does
    EXPECT_TRUE(Begins(Id(bus, mcu[1]), L"USB\\VID_35BD&PID_0101&MI_00\\"));
    EXPECT_TRUE(Begins(Id(bus, mcu[2]), L"USB\\VID_35BD&PID_0101&MI_01\\"));

    std::vector<DevNode> tracker;
    bus.ListDeviceNodes(L"usb\\vid_28de&pid_2300", tracker);
    ASSERT_EQ(tracker.size(), 4u);
    EXPECT_EQ(Parent(bus, tracker[0]), Parent(bus, mcu[0]));

    std::vector<DevNode> none{1};
    bus.ListDeviceNodes(L"USB\\VID_35BD&PID_010", none);
    EXPECT_TRUE(none.empty());
    bus.ListDeviceNodes(L"HID\\VID_35BD&PID_0101", none);
    EXPECT_EQ(none.size(), 2u);

    // The serial string comes only from a device that has one.
    std::vector<HidInterface> found;
    bus.ListHidInterfaces(found);
    ASSERT_EQ(found.size(), 5u);
    Handle mcuHandle = bus.Open(found[3].path);
    Handle trackerHandle = bus.Open(found[0].path);
    std::wstring serial = L"junk";
    EXPECT_FALSE(bus.SerialString(mcuHandle, serial));
    EXPECT_TRUE(serial.empty());
    EXPECT_TRUE(bus.SerialString(trackerHandle, serial));
    EXPECT_EQ(serial, L"LHR-5A1B2C3D");
    HidAttributes attr;
    ASSERT_TRUE(bus.Attributes(mcuHandle, attr));
    EXPECT_EQ(attr.vendorId, 0x35BD);
    EXPECT_EQ(attr.productId, 0x0101);
    bus.Close(mcuHandle);
    bus.Close(trackerHandle);
    (void)watchman;
}

TEST_F(UsbBusTree, UnknownOrOverlongLocationPathsCannotBeRead) {
    bus.Attach(Tracker(L"LHR-00000001", L""));
    bus.Attach(Tracker(L"LHR-00000002", L"PCIROOT(0)#USBROOT(0)#USB(1)" + std::wstring(500, L'X')));
    std::vector<DevNode> nodes;
    bus.ListDeviceNodes(L"USB\\VID_28DE&PID_2300\\", nodes);
    ASSERT_EQ(nodes.size(), 2u);
    std::wstring lp = L"before";
    EXPECT_FALSE(bus.LocationPath(nodes[0], lp));
    EXPECT_FALSE(bus.LocationPath(nodes[1], lp));
    EXPECT_EQ(lp, L"before");
    // Even without a place on the bus, a climb ends at the top, never loops.
    DevNode n = nodes[0];
    int steps = 0;
    while (bus.ParentNode(n, n) && steps < 10) {
        ++steps;
    }
    EXPECT_LE(steps, 4);
}

TEST_F(UsbBusTree, UnpluggedDevicesLeaveTheTreeAndReturnUnchanged) {
    UsbDeviceId id = bus.Attach(Tracker(L"LHR-5A1B2C3D", kHeadsetPort));
    bus.Attach(Mcu(kMcuPort));
    std::vector<HidInterface> before;
    bus.ListHidInterfaces(before);
    std::vector<DevNode> trackerNodes;
    bus.ListDeviceNodes(L"USB\\VID_28DE&PID_2300", trackerNodes);

    bus.Unplug(id);
    std::vector<HidInterface> during;
    bus.ListHidInterfaces(during);
    ASSERT_EQ(during.size(), 2u);
    EXPECT_EQ(during[0].path, before[3].path);
    std::vector<DevNode> nodes;
    bus.ListDeviceNodes(L"USB\\VID_28DE&PID_2300", nodes);
    EXPECT_TRUE(nodes.empty());
    std::wstring text;
    DevNode parent;
    EXPECT_FALSE(bus.DeviceId(before[2].node, text));
    EXPECT_FALSE(bus.ParentNode(before[2].node, parent));
    EXPECT_FALSE(bus.LocationPath(trackerNodes[0], text));
    EXPECT_EQ(bus.Open(before[2].path), kInvalidHandle);

    bus.Plug(id);
    std::vector<HidInterface> after;
    bus.ListHidInterfaces(after);
    ASSERT_EQ(after.size(), 5u);
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(after[i].path, before[i].path);
        EXPECT_EQ(Id(bus, after[i].node), Id(bus, before[i].node));
    }
    Handle h = bus.Open(before[2].path);
    EXPECT_NE(h, kInvalidHandle);
    bus.Close(h);
}

TEST_F(UsbBusTree, HandlesAndEventsAreCountedAndBadClosesAreHarmless) {
    bus.Attach(Tracker(L"LHR-5A1B2C3D", kHeadsetPort));
    std::vector<HidInterface> found;
    bus.ListHidInterfaces(found);
    const std::wstring& mi00 = found[2].path;

    Handle a = bus.Open(mi00);
    std::wstring upper = mi00;
    for (auto& c : upper) {
        c = wchar_t(towupper(c));
    }
    Handle b = bus.Open(upper);  // paths are case-insensitive, as on Windows
    Handle e = bus.CreateReadEvent();
    EXPECT_NE(a, kInvalidHandle);
    EXPECT_NE(b, kInvalidHandle);
    EXPECT_NE(a, b);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(bus.Open(L"\\\\?\\hid#nothing&mi_00#here"), kInvalidHandle);
    EXPECT_EQ(bus.OpenHandles(), 2u);
    EXPECT_EQ(bus.OpenEvents(), 1u);
    EXPECT_EQ(bus.OpensOf(L"&MI_00"), 3u);  // failed attempts count too
    EXPECT_EQ(bus.OpensOf(L"&mi_01"), 0u);

    bus.Close(a);
    bus.Close(b);
    bus.Close(e);
    EXPECT_EQ(bus.BadCloses(), 0u);
    bus.Close(a);
    bus.Close(e);
    bus.Close(nullptr);
    bus.Close(kInvalidHandle);
    EXPECT_EQ(bus.BadCloses(), 4u);
    HidAttributes attr;
    EXPECT_FALSE(bus.Attributes(a, attr));
}

}  // namespace
}  // namespace brisk::sim
