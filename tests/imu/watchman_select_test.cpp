// Hub pairing and the choosing rule of Watchman discovery.
#include <gtest/gtest.h>

#include "device/hub_pairing.h"
#include "imu/watchman_select.h"

namespace brisk {
namespace {

const std::wstring kRoot = L"usb1";

TEST(HubsAbove, ParentThenGrandparentStoppingAtTheRootHub) {
    struct Case {
        PortKey device;
        std::vector<PortKey> hubs;
    };
    const Case cases[] = {
        {{kRoot, {3, 2}}, {{kRoot, {3}}, {kRoot, {}}}},
        {{kRoot, {3, 2, 1}}, {{kRoot, {3, 2}}, {kRoot, {3}}}},
        {{kRoot, {1}}, {{kRoot, {}}}},
        {{kRoot, {}}, {}},    // the root hub itself hangs on nothing
        {{L"", {3, 2}}, {}},  // an unknown place has no hubs
    };
    for (const Case& c : cases) {
        EXPECT_EQ(HubsAbove(c.device), c.hubs) << c.device.ports.size();
    }
}

TEST(SharesHub, ParentOrGrandparentHubsMustCoincide) {
    struct Case {
        const char* what;
        PortKey a;
        PortKey b;
        bool shares;
    };
    const Case cases[] = {
        {"same parent hub", {kRoot, {3, 2}}, {kRoot, {3, 1}}, true},
        {"through the root hub", {kRoot, {1}}, {kRoot, {4, 1}}, true},
        {"both on root ports", {kRoot, {1}}, {kRoot, {2}}, true},
        {"one's grandparent is the other's parent", {kRoot, {3, 2, 1}}, {kRoot, {3, 5}}, true},
        {"too far apart below one root hub", {kRoot, {1, 2, 3}}, {kRoot, {4, 1, 2}}, false},
        {"another root, the same ports", {kRoot, {3, 2}}, {L"usb2", {3, 1}}, false},
        {"a device and itself", {kRoot, {3, 2}}, {kRoot, {3, 2}}, true},
        {"root hubs pair with nothing", {kRoot, {}}, {kRoot, {}}, false},
        {"unknown and known", {L"", {3, 2}}, {kRoot, {3, 1}}, false},
        {"two unknown places", {}, {}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SharesHub(c.a, c.b), c.shares) << c.what;
        EXPECT_EQ(SharesHub(c.b, c.a), c.shares) << c.what << " (swapped)";
    }
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
