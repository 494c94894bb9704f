// The --metrics address and --station on the command line, and the page
// Prometheus reads: which series a run shows when, their exact lines, and
// label values that would otherwise break the page.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "metrics/prometheus_text.h"
#include "run/command_line.h"

namespace brisk::metrics {
namespace {

TEST(MetricsAddress, ReadsPortsHostsAndBracketedV6AndRefusesTheRest) {
    struct Case {
        const char* text;
        bool ok;
        const char* host;  // after reading, starting from the default
        uint16_t port;
    };
    const Case cases[] = {
        {"9100", true, "127.0.0.1", 9100},
        {"1", true, "127.0.0.1", 1},
        {"65535", true, "127.0.0.1", 65535},
        {"0.0.0.0:9100", true, "0.0.0.0", 9100},
        {"lab-07.example:19100", true, "lab-07.example", 19100},
        {"[::1]:9100", true, "::1", 9100},
        {"[::]:80", true, "::", 80},
        {"0", false, "127.0.0.1", 0},
        {"65536", false, "127.0.0.1", 0},
        {"99999999999", false, "127.0.0.1", 0},
        {"", false, "127.0.0.1", 0},
        {"port", false, "127.0.0.1", 0},
        {"9100x", false, "127.0.0.1", 0},
        {"-9100", false, "127.0.0.1", 0},
        {":9100", false, "127.0.0.1", 0},
        {"host:", false, "127.0.0.1", 0},
        {"::1:9100", false, "127.0.0.1", 0},  // v6 needs its brackets
        {"[]:9100", false, "127.0.0.1", 0},
        {"[::1:9100", false, "127.0.0.1", 0},
        {"a]:9100", false, "127.0.0.1", 0},
    };
    for (const Case& c : cases) {
        std::string host = "127.0.0.1";
        uint16_t port = 0;
        EXPECT_EQ(ParseMetricsAddress(c.text, host, port), c.ok) << c.text;
        EXPECT_EQ(host, c.host) << c.text;
        EXPECT_EQ(port, c.port) << c.text;
    }
}

TEST(MetricsAddress, CommandLineTakesMetricsAndStationAmongTheOtherOptions) {
    std::vector<const char*> args = {"brisk",       "--metrics", "0.0.0.0:9105", "--station",
                                     "lab-a \"7\"", "--display", "none",         "12"};
    CommandLine cl = ParseCommandLine(static_cast<int>(args.size()), args.data());
    ASSERT_EQ(cl.action, CommandAction::kRun) << cl.error;
    EXPECT_EQ(cl.settings.metricsHost, "0.0.0.0");
    EXPECT_EQ(cl.settings.metricsPort, 9105);
    EXPECT_EQ(cl.settings.station, "lab-a \"7\"");
    EXPECT_EQ(cl.settings.runSeconds, 12.0);

    cl = ParseCommandLine(1, args.data());
    EXPECT_EQ(cl.settings.metricsPort, 0) << "no endpoint unless asked";
    EXPECT_EQ(cl.settings.metricsHost, "127.0.0.1");

    const std::pair<std::vector<const char*>, std::string> refused[] = {
        {{"brisk", "--metrics"}, "--metrics needs [HOST:]PORT"},
        {{"brisk", "--metrics", "localhost"},
         "--metrics: bad address 'localhost' (expected PORT or HOST:PORT, port 1-65535, e.g. "
         "9100)"},
        {{"brisk", "--station"}, "--station needs a NAME"},
        {{"brisk", "--station", "", "5"}, "--station needs a NAME"},
    };
    for (const auto& [argv, error] : refused) {
        cl = ParseCommandLine(static_cast<int>(argv.size()), argv.data());
        EXPECT_EQ(cl.action, CommandAction::kUsageError) << argv.back();
        EXPECT_EQ(cl.error, error);
    }
    EXPECT_NE(UsageText().find("--metrics [HOST:]PORT"), std::string::npos);
    EXPECT_NE(UsageText().find("--station NAME"), std::string::npos);
}

TEST(PrometheusText, EscapesWhatTheFormatQuotesAndMendsBadUtf8) {
    const std::pair<std::string, std::string> cases[] = {
        {"lab-07", "lab-07"},
        {"a\\b", "a\\\\b"},
        {"say \"hi\"", "say \\\"hi\\\""},
        {"two\nlines", "two\\nlines"},
        {"tab\tstays", "tab\tstays"},
        {"LHR-\xC3\xA9X", "LHR-\xC3\xA9X"},  // valid UTF-8 is kept
        {"LHR-\xE9X", "LHR-\xC3\xA9X"},      // a lone Latin-1 byte becomes its character
        {"\xFF\xFE", "\xC3\xBF\xC3\xBE"},
        {"", ""},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(EscapeLabelValue(in), out) << in;
    }
}

MetricsSnapshot FullRun() {
    MetricsSnapshot s;
    s.station = "lab-07";
    s.version = "0.1.0";
    s.display = "directmode";
    s.mode = "5088x2544@75";
    s.imuSerial = "LHR-5A1B2C3D";
    s.haveDisplay = true;
    s.haveProx = true;
    s.imuSamples = 123456789012ULL;
    s.imuReports = 41152263004ULL;
    s.imuSeqGaps = 3;
    s.imuStalls = 4;
    s.imuReconnects = 1;
    s.frames = 4500;
    s.presentErrors = 2;
    s.waitTimeouts = 5;
    s.freeRunEvents = 6;
    s.donEvents = 7;
    s.doffEvents = 8;
    s.haveStatus = true;
    s.framesLastSecond = 75;
    s.imuSamplesLastSecond = 999;
    s.sampleAgeSeconds = 0.0015;
    s.proxDistance = 1612;
    s.worn = true;
    s.freeRunActive = true;
    s.displayLost = false;
    s.runEnded = true;
    s.runFailed = true;
    s.exitCode = 4;
    s.imu = {true, false, 2, 12.5};
    s.mcu = {true, true, 1, 0.0};
    s.verdict = "FAIL";
    s.reasons = {{"imu_lost", true}, {"imu_health", false}};
    s.havePhotodiodes = true;
    s.photodiodes[0] = 29, s.photodiodes[1] = 1, s.photodiodes[3] = 2;
    return s;
}

// The sample lines only, without HELP and TYPE.
std::vector<std::string> Samples(const std::string& page) {
    std::vector<std::string> lines;
    size_t begin = 0;
    while (begin < page.size()) {
        const size_t end = page.find('\n', begin);
        const std::string line = page.substr(begin, end - begin);
        if (line[0] != '#') {
            lines.push_back(line);
        }
        begin = end + 1;
    }
    return lines;
}

TEST(PrometheusText, AFullRunShowsEverySeriesWithItsStation) {
    const std::string page = RenderPrometheus(FullRun());
    const std::vector<std::string> expected = {
        "brisk_imu_samples_total{station=\"lab-07\"} 123456789012",
        "brisk_imu_reports_total{station=\"lab-07\"} 41152263004",
        "brisk_imu_sequence_gaps_total{station=\"lab-07\"} 3",
        "brisk_imu_stalls_total{station=\"lab-07\"} 4",
        "brisk_imu_reconnects_total{station=\"lab-07\"} 1",
        "brisk_frames_total{station=\"lab-07\"} 4500",
        "brisk_present_errors_total{station=\"lab-07\"} 2",
        "brisk_present_wait_timeouts_total{station=\"lab-07\"} 5",
        "brisk_free_run_events_total{station=\"lab-07\"} 6",
        "brisk_don_events_total{station=\"lab-07\"} 7",
        "brisk_doff_events_total{station=\"lab-07\"} 8",
        "brisk_imu_present{station=\"lab-07\"} 0",
        "brisk_imu_absent_seconds_total{station=\"lab-07\"} 12.5",
        "brisk_mcu_present{station=\"lab-07\"} 1",
        "brisk_frame_rate_hertz{station=\"lab-07\"} 75",
        "brisk_imu_sample_rate_hertz{station=\"lab-07\"} 999",
        "brisk_imu_sample_age_seconds{station=\"lab-07\"} 0.0015",
        "brisk_proximity_distance_counts{station=\"lab-07\"} 1612",
        "brisk_worn{station=\"lab-07\"} 1",
        "brisk_free_run_active{station=\"lab-07\"} 1",
        "brisk_display_lost{station=\"lab-07\"} 0",
        "brisk_run_ended{station=\"lab-07\"} 1",
        "brisk_run_failed{station=\"lab-07\"} 1",
        "brisk_exit_code{station=\"lab-07\"} 4",
        "brisk_device_lost_total{station=\"lab-07\",device=\"imu\"} 2",
        "brisk_device_lost_total{station=\"lab-07\",device=\"mcu\"} 1",
        "brisk_photodiodes{station=\"lab-07\",state=\"ok\"} 29",
        "brisk_photodiodes{station=\"lab-07\",state=\"dead\"} 1",
        "brisk_photodiodes{station=\"lab-07\",state=\"weak\"} 0",
        "brisk_photodiodes{station=\"lab-07\",state=\"abnormal\"} 2",
        "brisk_photodiodes{station=\"lab-07\",state=\"unlit\"} 0",
        "brisk_run_verdict{station=\"lab-07\",verdict=\"FAIL\"} 1",
        "brisk_run_reason{station=\"lab-07\",code=\"imu_lost\"} 1",
        "brisk_run_reason{station=\"lab-07\",code=\"imu_health\"} 0",
        "brisk_info{station=\"lab-07\",version=\"0.1.0\",display=\"directmode\","
        "mode=\"5088x2544@75\",imu_serial=\"LHR-5A1B2C3D\"} 1",
    };
    EXPECT_EQ(Samples(page), expected);
}

// HELP, TYPE, units and naming as Prometheus's own linter judges them, on a
// page with every family (the live pages are checked again by
// tests/metrics/prometheus_check.sh).
TEST(PrometheusText, PromtoolFindsNothingToSayAboutAFullPage) {
#ifdef _WIN32
    GTEST_SKIP() << "promtool runs on the Linux tests only";
#else
    if (std::system("promtool --version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "promtool is not installed (scripts/deps installs it)";
    }
    const std::string path = ::testing::TempDir() + "brisk-full-page.prom";
    {
        std::ofstream out(path, std::ios::binary);
        out << RenderPrometheus(FullRun());
    }
    const std::string lint = path + ".lint";
    const int status =
        std::system(("promtool check metrics <" + path + " >" + lint + " 2>&1").c_str());
    std::ifstream said(lint);
    const std::string text((std::istreambuf_iterator<char>(said)),
                           std::istreambuf_iterator<char>());
    EXPECT_EQ(status, 0) << text;
    EXPECT_EQ(text, "") << text;
    std::remove(path.c_str());
    std::remove(lint.c_str());
#endif
}

TEST(PrometheusText, SeriesOfWhatDidNotRunOrIsNotKnownYetAreLeftOut) {
    struct Case {
        const char* what;
        void (*shape)(MetricsSnapshot&);
        std::vector<std::string> absent;
        std::vector<std::string> present;
    };
    const Case cases[] = {
        {"sensors only",
         [](MetricsSnapshot& s) { s.haveDisplay = false; },
         {"brisk_frames_total", "brisk_present_errors_total", "brisk_present_wait_timeouts_total",
          "brisk_free_run_events_total", "brisk_frame_rate_hertz", "brisk_free_run_active",
          "brisk_display_lost"},
         {"brisk_imu_samples_total", "brisk_imu_sample_rate_hertz", "brisk_run_ended"}},
        {"no MCU",
         [](MetricsSnapshot& s) { s.haveProx = false; },
         {"brisk_don_events_total", "brisk_doff_events_total", "brisk_proximity_distance_counts",
          "brisk_worn"},
         {"brisk_frames_total"}},
        {"before the first status second",
         [](MetricsSnapshot& s) { s.haveStatus = false; },
         {"brisk_frame_rate_hertz", "brisk_imu_sample_rate_hertz", "brisk_imu_sample_age_seconds",
          "brisk_proximity_distance_counts", "brisk_worn"},
         {"brisk_frames_total", "brisk_don_events_total"}},
        {"no IMU sample yet",
         [](MetricsSnapshot& s) { s.sampleAgeSeconds = -1.0; },
         {"brisk_imu_sample_age_seconds"},
         {"brisk_imu_sample_rate_hertz"}},
        {"still running",
         [](MetricsSnapshot& s) { s.runEnded = false; },
         {"brisk_run_failed", "brisk_exit_code", "brisk_run_verdict", "brisk_run_reason"},
         {"brisk_run_ended{station=\"lab-07\"} 0", "brisk_imu_present{"}},
        {"before the devices started",
         [](MetricsSnapshot& s) {
             s.imu.watched = false;
             s.mcu.watched = false;
         },
         {"brisk_imu_present", "brisk_imu_absent_seconds_total", "brisk_mcu_present",
          "brisk_device_lost_total"},
         {"brisk_imu_samples_total"}},
        {"an MCU not found at the start",
         [](MetricsSnapshot& s) { s.mcu.watched = false; },
         {"brisk_mcu_present", "brisk_device_lost_total{station=\"lab-07\",device=\"mcu\""},
         {"brisk_device_lost_total{station=\"lab-07\",device=\"imu\"} 2"}},
        {"a pass",
         [](MetricsSnapshot& s) { s.reasons.clear(); },
         {"brisk_run_reason"},
         {"brisk_run_verdict{"}},
        {"without --optical, or before the light was first judged",
         [](MetricsSnapshot& s) { s.havePhotodiodes = false; },
         {"brisk_photodiodes"},
         {"brisk_device_lost_total{"}},
        {"judged while the run goes on",
         [](MetricsSnapshot& s) { s.runEnded = false; },
         {"brisk_run_verdict"},
         {"brisk_photodiodes{station=\"lab-07\",state=\"dead\"} 1"}},
    };
    for (const Case& c : cases) {
        MetricsSnapshot s = FullRun();
        c.shape(s);
        const std::string page = RenderPrometheus(s);
        for (const std::string& name : c.absent) {
            const bool series = name.find('{') != std::string::npos;
            EXPECT_EQ(page.find("\n" + name + (series ? "" : "{")), std::string::npos)
                << c.what << ": " << name;
            if (!series) {
                // No family is listed without a value.
                EXPECT_EQ(page.find("# TYPE " + name + " "), std::string::npos) << name;
            }
        }
        for (const std::string& text : c.present) {
            EXPECT_NE(page.find("\n" + text), std::string::npos) << c.what << ": " << text;
        }
    }
}

TEST(PrometheusText, TheWatchmansIdentityOnlyWithIdentity) {
    const std::vector<std::string> names = {"brisk_watchman_firmware_build",
                                            "brisk_watchman_config_read",
                                            "brisk_watchman_identity_problems"};
    MetricsSnapshot s = FullRun();
    // Without --identity the page is as it always was: not even the headers.
    for (const std::string& name : names) {
        EXPECT_EQ(RenderPrometheus(s).find(name), std::string::npos) << name;
    }
    s.identityAsked = true;  // asked, nothing read yet: no value, so no family
    std::string page = RenderPrometheus(s);
    for (const std::string& name : names) {
        EXPECT_EQ(page.find(name), std::string::npos) << name;
    }
    s.identityRead = true, s.haveFirmware = true, s.firmwareBuild = 1462663157;
    s.configRead = false, s.identityProblems = 2;
    page = RenderPrometheus(s);
    for (const char* line : {"brisk_watchman_firmware_build{station=\"lab-07\"} 1462663157\n",
                             "brisk_watchman_config_read{station=\"lab-07\"} 0\n",
                             "brisk_watchman_identity_problems{station=\"lab-07\"} 2\n"}) {
        EXPECT_NE(page.find(line), std::string::npos) << line;
    }
    s.haveFirmware = false;  // the version not read: no build to show
    EXPECT_EQ(RenderPrometheus(s).find("\nbrisk_watchman_firmware_build{"), std::string::npos);
}

TEST(PrometheusText, LabelsFromOutsideCannotBreakTheLine) {
    MetricsSnapshot s = FullRun();
    s.station = "lab \"7\"\nx";
    s.imuSerial = "LHR-\xE9\\";
    const std::string page = RenderPrometheus(s);
    EXPECT_NE(page.find("brisk_frames_total{station=\"lab \\\"7\\\"\\nx\"} 4500\n"),
              std::string::npos);
    EXPECT_NE(page.find(",imu_serial=\"LHR-\xC3\xA9\\\\\"} 1\n"), std::string::npos);
}

}  // namespace
}  // namespace brisk::metrics
