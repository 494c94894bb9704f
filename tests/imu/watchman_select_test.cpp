// Interface filtering, hub pairing and the choosing rule of Watchman discovery.
#include <gtest/gtest.h>

#include "imu/watchman_select.h"

namespace brisk {
namespace {

const std::wstring kRoot = L"PCIROOT(0)#PCI(1400)#USBROOT(0)";

TEST(IsMi00Path, MatchesTheImuInterfaceInAnyCase) {
    EXPECT_TRUE(IsMi00Path(L"\\\\?\\hid#vid_28de&pid_2300&mi_00#8&1a2b&0&0000#{4d1e55b2}"));
    EXPECT_TRUE(IsMi00Path(L"\\\\?\\HID#VID_28DE&PID_2300&MI_00#8&1A2B&0&0000"));
    EXPECT_FALSE(IsMi00Path(L"\\\\?\\hid#vid_28de&pid_2300&mi_01#8&1a2b&0&0000"));
    EXPECT_FALSE(IsMi00Path(L"\\\\?\\hid#vid_28de&pid_2300#mi_00"));
    EXPECT_FALSE(IsMi00Path(L""));
}

TEST(HubPaths, ParentThenGrandparentStoppingAtTheRootHub) {
    EXPECT_EQ(HubPaths(kRoot + L"#USB(3)#USB(2)"),
              (std::vector<std::wstring>{kRoot + L"#USB(3)", kRoot}));
    EXPECT_EQ(HubPaths(kRoot + L"#USB(3)#USB(2)#USB(1)"),
              (std::vector<std::wstring>{kRoot + L"#USB(3)#USB(2)", kRoot + L"#USB(3)"}));
    EXPECT_EQ(HubPaths(kRoot + L"#USB(1)"), (std::vector<std::wstring>{kRoot}));
    EXPECT_TRUE(HubPaths(kRoot).empty());
    EXPECT_TRUE(HubPaths(L"").empty());
}

TEST(SharesHub, ParentOrGrandparentHubsMustCoincide) {
    // Same parent hub.
    EXPECT_TRUE(SharesHub(kRoot + L"#USB(3)#USB(2)", kRoot + L"#USB(3)#USB(1)"));
    // Through the root hub, within two steps of it.
    EXPECT_TRUE(SharesHub(kRoot + L"#USB(1)", kRoot + L"#USB(4)#USB(1)"));
    // One device's grandparent is the other's parent.
    EXPECT_TRUE(SharesHub(kRoot + L"#USB(3)#USB(2)#USB(1)", kRoot + L"#USB(3)#USB(5)"));
    // Too far apart below the same root hub.
    EXPECT_FALSE(SharesHub(kRoot + L"#USB(1)#USB(2)#USB(3)", kRoot + L"#USB(4)#USB(1)#USB(2)"));
    // Another controller.
    EXPECT_FALSE(
        SharesHub(kRoot + L"#USB(3)#USB(2)", L"PCIROOT(0)#PCI(1401)#USBROOT(0)#USB(3)#USB(1)"));
    // An unknown place pairs with nothing, not even another unknown one.
    EXPECT_FALSE(SharesHub(L"", kRoot + L"#USB(3)#USB(1)"));
    EXPECT_FALSE(SharesHub(kRoot + L"#USB(3)#USB(1)", L""));
    EXPECT_FALSE(SharesHub(L"", L""));
}

TEST(ChooseWatchman, WithoutSerialOnlyASinglePairedOneIsTaken) {
    EXPECT_EQ(ChooseWatchman({}, L""), kNoCandidate);
    EXPECT_EQ(ChooseWatchman({{L"LHR-A", true}}, L""), 0u);
    EXPECT_EQ(ChooseWatchman({{L"LHR-A", false}}, L""), kNoCandidate);
    EXPECT_EQ(ChooseWatchman({{L"LHR-A", false}, {L"LHR-B", true}}, L""), 1u);
    EXPECT_EQ(ChooseWatchman({{L"LHR-A", true}, {L"LHR-B", false}, {L"LHR-C", true}}, L""),
              kNoCandidate);
}

TEST(ChooseWatchman, ASerialMatchesExactlyAndFirstWins) {
    const std::vector<CandidateInfo> c{
        {L"LHR-AAAA", true}, {L"LHR-BBBB", false}, {L"LHR-bbbb", false}, {L"LHR-BBBB", false}};
    EXPECT_EQ(ChooseWatchman(c, L"LHR-BBBB"), 1u);  // pairing plays no part; first of two
    EXPECT_EQ(ChooseWatchman(c, L"LHR-bbbb"), 2u);
    EXPECT_EQ(ChooseWatchman(c, L"LHR-aaaa"), kNoCandidate);  // case counts
    EXPECT_EQ(ChooseWatchman(c, L"LHR-AAA"), kNoCandidate);   // whole string
    EXPECT_EQ(ChooseWatchman({{L"", true}}, L"LHR-AAAA"), kNoCandidate);
}

}  // namespace
}  // namespace brisk
