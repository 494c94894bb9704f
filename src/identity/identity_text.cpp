#include "identity/identity_text.h"

namespace brisk::identity {
namespace {

// The text of the first problem with `code`; empty when none has it.
std::string TextOf(const Problems& problems, const char* code) {
    for (const Problem& p : problems) {
        if (p.code == code) {
            return p.text;
        }
    }
    return {};
}

// "not read (why)" when a problem says why, else "not captured": an item a
// replayed capture does not hold is skipped without a problem.
std::string Missing(const Problems& problems, const char* code) {
    const std::string why = TextOf(problems, code);
    return why.empty() ? "not captured" : "not read (" + why + ")";
}

std::string FirmwareLine(const Identity& id) {
    if (!id.firmware) {
        return Missing(id.problems, code::kVersionUnreadable);
    }
    const FirmwareVersion& v = *id.firmware;
    return "build " + std::to_string(v.build) + ", hardware " + v.HardwareText() + ", FPGA " +
           v.FpgaText();
}

std::string RangeLine(const Identity& id) {
    if (!id.range) {
        return Missing(id.problems, code::kImuRangeUnreadable);
    }
    return std::to_string(id.range->gyroDps) + " dps, " + std::to_string(id.range->accelG) + " g";
}

std::string ConfigLine(const Identity& id) {
    if (id.config == nullptr) {
        return "not captured";
    }
    const WatchmanConfig& c = *id.config;
    if (!c.read) {
        const std::string why = TextOf(c.problems, code::kConfigUnreadable);
        return why.empty() ? "not read" : "not read (" + why + ")";
    }
    const size_t n = c.Photodiodes();
    return "serial " + (c.serial.empty() ? std::string("none") : Printable(c.serial)) + ", " +
           std::to_string(n) + (n == 1 ? " photodiode" : " photodiodes");
}

std::string ProblemCodes(const Problems& all) {
    if (all.empty()) {
        return "none";
    }
    std::string codes;
    for (const Problem& p : all) {
        codes.append(codes.empty() ? "" : ", ").append(p.code);
    }
    return codes;
}

}  // namespace

std::string Printable(std::string text) {
    for (char& c : text) {
        const auto u = static_cast<unsigned char>(c);
        c = u < 0x20 || u == 0x7F ? '?' : c;
    }
    return text;
}

std::string FormatIdentityBlock(const Identity& identity, const Problems& all) {
    return "Watchman firmware: " + FirmwareLine(identity) +
           "\nWatchman IMU range: " + RangeLine(identity) +
           "\nWatchman configuration: " + ConfigLine(identity) +
           "\nWatchman identity problems: " + ProblemCodes(all) + "\n";
}

std::string UnitSerial(const Identity& identity, const std::string& usbSerial) {
    if (identity.config != nullptr && identity.config->read && !identity.config->serial.empty()) {
        return Printable(identity.config->serial);
    }
    return usbSerial;
}

bool DifferentUnit(const std::string& before, const std::string& now) {
    return !before.empty() && !now.empty() && before != now;
}

Problem UnitChangedProblem(const std::string& before, const std::string& now) {
    return {code::kWatchmanChanged, "a different Watchman after a reconnect on the same port: " +
                                        before + " before, " + now + " now"};
}

}  // namespace brisk::identity
