#include "platform/report_descriptor.h"

#include <algorithm>
#include <utility>

namespace brisk {
namespace {

constexpr uint8_t kLongItemPrefix = 0xFE;
// Short items by prefix without the size bits: tag and type.
constexpr uint8_t kInputItem = 0x80;     // main item, tag 8
constexpr uint8_t kReportIdItem = 0x84;  // global item, tag 8
constexpr uint8_t kPushItem = 0xA4;      // global item, tag 10
constexpr uint8_t kPopItem = 0xB4;       // global item, tag 11
// Real descriptors push once or twice; anything deeper is garbage, and the
// bound keeps the stack small whatever a device sends.
constexpr size_t kMaxPushDepth = 16;

}  // namespace

std::optional<std::vector<uint8_t>> InputReportIdsOfDescriptor(const uint8_t* descriptor,
                                                               size_t length) {
    if (descriptor == nullptr || length == 0) {
        return std::nullopt;
    }
    std::vector<uint8_t> ids;
    std::vector<uint8_t> pushed;
    uint8_t current = 0;  // 0: no report ID in force
    size_t at = 0;
    while (at < length) {
        const uint8_t prefix = descriptor[at];
        if (prefix == kLongItemPrefix) {
            // Prefix, data size, tag, then the data; nothing of ours is long.
            if (length - at < 3 || length - at - 3 < descriptor[at + 1]) {
                return std::nullopt;
            }
            at += 3 + static_cast<size_t>(descriptor[at + 1]);
            continue;
        }
        const size_t dataBytes = (prefix & 0x3) == 3 ? 4 : (prefix & 0x3);
        if (length - at - 1 < dataBytes) {
            return std::nullopt;
        }
        const uint8_t* data = descriptor + at + 1;
        switch (prefix & 0xFC) {
            case kReportIdItem:
                // One byte, 1 to 255; the item may carry it in a wider
                // field, as long as the value fits.
                if (dataBytes == 0 || data[0] == 0 ||
                    std::any_of(data + 1, data + dataBytes, [](uint8_t b) { return b != 0; })) {
                    return std::nullopt;
                }
                current = data[0];
                break;
            case kPushItem:
                if (pushed.size() == kMaxPushDepth) {
                    return std::nullopt;
                }
                pushed.push_back(current);
                break;
            case kPopItem:
                if (pushed.empty()) {
                    return std::nullopt;
                }
                current = pushed.back();
                pushed.pop_back();
                break;
            case kInputItem:
                if (current != 0 && std::find(ids.begin(), ids.end(), current) == ids.end()) {
                    ids.push_back(current);  // at most 255 distinct, whatever the length
                }
                break;
            default:
                break;
        }
        at += 1 + dataBytes;
    }
    return DistinctReportIds(std::move(ids));
}

std::vector<uint8_t> DistinctReportIds(std::vector<uint8_t> ids) {
    std::erase(ids, uint8_t{0});
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    return ids;
}

bool DeclaresInputReport(const std::optional<std::vector<uint8_t>>& ids, uint8_t id) {
    return ids && std::find(ids->begin(), ids->end(), id) != ids->end();
}

}  // namespace brisk
