#include "identity/config_fields.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

namespace brisk::identity {
namespace {

using nlohmann::json;

// How deep brackets nest outside strings: checked before parsing, so that a
// hostile document never reaches a parser or a destructor with a deep tree.
int Depth(const std::string& text) {
    int depth = 0, deepest = 0;
    bool inString = false, escaped = false;
    for (const char ch : text) {
        if (inString) {
            escaped = !escaped && ch == '\\';
            inString = escaped || ch != '"';
            continue;
        }
        if (ch == '"') {
            inString = true;
        } else if (ch == '[' || ch == '{') {
            deepest = std::max(deepest, ++depth);
        } else if (ch == ']' || ch == '}') {
            --depth;
        }
    }
    return deepest;
}

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", value);
    return text;
}

// "a, b, c" of at most the first four, "and N more" after.
std::string List(const std::vector<std::string>& names) {
    std::string out;
    for (size_t i = 0; i < names.size() && i < 4; ++i) {
        out += (i == 0 ? "" : ", ") + names[i];
    }
    if (names.size() > 4) {
        out += " and " + std::to_string(names.size() - 4) + " more";
    }
    return out;
}

class Fields {
  public:
    Fields(const json& root, WatchmanConfig& c) : root(root), c(c) {}

    void ReadAll() {
        Text("device_serial_number", c.serial);
        Text("device_class", c.deviceClass);
        Text("model_number", c.modelNumber);
        if (const json* m = Member(&root, "manufacturer"); m != nullptr && m->is_string()) {
            c.manufacturer = m->get<std::string>();
        }
        if (const json* r = Member(&root, "revision"); r != nullptr && r->is_number_integer()) {
            c.revision = r->get<int64_t>();
        }
        const json* lighthouse = Member(&root, "lighthouse_config");
        Triples(lighthouse, "lighthouse_config.", "modelPoints", c.positions, true);
        Triples(lighthouse, "lighthouse_config.", "modelNormals", c.normals, true);
        Channels(lighthouse);
        Calibration();
        Report();
    }

  private:
    static const json* Member(const json* object, const char* key) {
        if (object == nullptr || !object->is_object()) {
            return nullptr;
        }
        const auto it = object->find(key);
        return it == object->end() ? nullptr : &*it;
    }

    // The member `key` of `object`, or null after noting it missing.
    const json* Required(const json* object, const std::string& prefix, const char* key) {
        const json* v = Member(object, key);
        if (v == nullptr) {
            missing.push_back(prefix + key);
        }
        return v;
    }

    void Text(const char* key, std::string& out) {
        const json* v = Required(&root, "", key);
        if (v != nullptr && !v->is_string()) {
            bad.push_back(std::string(key) + " is no string");
        } else if (v != nullptr) {
            out = v->get<std::string>();
        }
    }

    static bool Triple(const json& v, Vec3& out) {
        if (!v.is_array() || v.size() != 3) {
            return false;
        }
        for (size_t i = 0; i < 3; ++i) {
            if (!v[i].is_number()) {
                return false;
            }
            out[i] = v[i].get<double>();
        }
        return true;
    }

    // An array of triples (`many`) or one triple.
    void Triples(const json* object, const std::string& prefix, const char* key,
                 std::vector<Vec3>& out, bool many) {
        const json* v = Required(object, prefix, key);
        if (v == nullptr) {
            return;
        }
        const std::string name = prefix + key;
        if (!many) {
            out.resize(1);
            if (!Triple(*v, out[0])) {
                bad.push_back(name + " is not three numbers");
            }
            return;
        }
        if (!v->is_array()) {
            bad.push_back(name + " is no array");
            return;
        }
        out.resize(v->size());
        for (size_t i = 0; i < v->size(); ++i) {
            if (!Triple((*v)[i], out[i])) {
                bad.push_back(name + "[" + std::to_string(i) + "] is not three numbers");
                out.clear();
                return;
            }
        }
    }

    void Channels(const json* lighthouse) {
        const json* v = Required(lighthouse, "lighthouse_config.", "channelMap");
        if (v == nullptr) {
            return;
        }
        if (!v->is_array()) {
            bad.push_back("lighthouse_config.channelMap is no array");
            return;
        }
        for (size_t i = 0; i < v->size(); ++i) {
            if (!(*v)[i].is_number_integer()) {
                bad.push_back("lighthouse_config.channelMap[" + std::to_string(i) +
                              "] is no whole number");
                c.channelMap.clear();
                return;
            }
            c.channelMap.push_back((*v)[i].is_number_unsigned() &&
                                           (*v)[i].get<uint64_t>() > INT64_MAX
                                       ? INT64_MAX
                                       : (*v)[i].get<int64_t>());
        }
    }

    // Nested in "imu" where that holds acc_bias, else at the top level.
    void Calibration() {
        const json* imu = Member(&root, "imu");
        const bool nested =
            Member(imu, "acc_bias") != nullptr || Member(&root, "acc_bias") == nullptr;
        const json* from = nested ? imu : &root;
        const std::string prefix = nested ? "imu." : "";
        ImuCalibration& cal = c.imu;
        const size_t before = missing.size() + bad.size();
        auto take = [&](const char* key, Vec3& into) {
            std::vector<Vec3> v;
            Triples(from, prefix, key, v, false);
            into = v.empty() ? into : v[0];
        };
        take("acc_bias", cal.accBias);
        take("acc_scale", cal.accScale);
        take("gyro_bias", cal.gyroBias);
        if (Member(from, "gyro_scale") != nullptr) {
            take("gyro_scale", cal.gyroScale);
            cal.gyroScaleGiven = true;
        }
        if (missing.size() + bad.size() == before) {
            cal.shape = nested ? CalibrationShape::kNested : CalibrationShape::kTopLevel;
        } else {
            cal = ImuCalibration{};  // all or nothing: a half calibration would mislead
        }
    }

    void Report() {
        if (!missing.empty()) {
            c.problems.push_back({code::kConfigMissingKey, "configuration lacks " + List(missing)});
        }
        if (!bad.empty()) {
            c.problems.push_back({code::kConfigBadValue, "configuration: " + List(bad)});
        }
        CheckChannelMap();
        CheckNormals();
    }

    void CheckChannelMap() {
        if (c.positions.empty() || c.normals.empty() || c.channelMap.empty()) {
            if (missing.empty() && bad.empty()) {
                c.problems.push_back(
                    {code::kConfigChannelMap, "configuration holds no photodiodes"});
            }
            return;
        }
        if (c.positions.size() != c.normals.size() || c.positions.size() != c.channelMap.size()) {
            c.problems.push_back(
                {code::kConfigChannelMap, "configuration holds " +
                                              std::to_string(c.positions.size()) + " positions, " +
                                              std::to_string(c.normals.size()) + " normals and " +
                                              std::to_string(c.channelMap.size()) + " channels"});
            return;
        }
        std::set<int64_t> seen;
        for (size_t i = 0; i < c.channelMap.size(); ++i) {
            const int64_t channel = c.channelMap[i];
            if (channel < 0 || !seen.insert(channel).second) {
                c.problems.push_back(
                    {code::kConfigChannelMap,
                     "configuration maps photodiode " + std::to_string(i) +
                         (channel < 0 ? " to a negative channel " : " to channel ") +
                         std::to_string(channel) + (channel < 0 ? "" : ", which another one has")});
                return;
            }
        }
    }

    void CheckNormals() {
        size_t off = 0, worst = 0;
        double worstError = -1.0, worstLength = 0.0;
        for (size_t i = 0; i < c.normals.size(); ++i) {
            const Vec3& n = c.normals[i];
            const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
            const double error = std::isfinite(length) ? std::fabs(length - 1.0) : HUGE_VAL;
            off += error > kNormalTolerance;
            if (error > worstError) {
                worstError = error;
                worst = i;
                worstLength = length;
            }
        }
        if (off > 0) {
            c.problems.push_back({code::kConfigNormals,
                                  std::to_string(off) + " of " + std::to_string(c.normals.size()) +
                                      " normals are not of unit length (normal " +
                                      std::to_string(worst) + ": length " + Number(worstLength) +
                                      ")"});
        }
    }

    const json& root;
    WatchmanConfig& c;
    std::vector<std::string> missing, bad;
};

}  // namespace

void ReadConfigJson(const std::string& text, WatchmanConfig& into) {
    if (Depth(text) > kMaxConfigJsonDepth) {
        into.problems.push_back(
            {code::kConfigJson,
             "configuration nests deeper than " + std::to_string(kMaxConfigJsonDepth) + " levels"});
        return;
    }
    const json root = json::parse(text, nullptr, false);
    if (root.is_discarded()) {
        into.problems.push_back({code::kConfigJson, "configuration is not JSON"});
        return;
    }
    if (!root.is_object()) {
        into.problems.push_back({code::kConfigJson, "configuration is JSON but not an object"});
        return;
    }
    Fields(root, into).ReadAll();
}

}  // namespace brisk::identity
