// Capture containers (classic pcap, pcapng): records of (link type, time,
// bytes) read one at a time from a ByteReader, whatever the link type.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capture/byte_stream.h"
#include "capture/capture_format.h"
#include "capture/packet_source.h"

namespace brisk::capture {

struct CaptureRecord {
    uint32_t linkType = 0;
    bool bigEndian = false;         // the byte order the capture was written in
    uint64_t micros = 0;            // since the Unix epoch
    const uint8_t* data = nullptr;  // valid until the next Next
    uint32_t size = 0;              // bytes present in the file
};

class CaptureContainer {
  public:
    virtual ~CaptureContainer() = default;
    // The next record, or why there is none: kEnd, kTruncated, or kBad with
    // `error`.
    virtual SourceStatus Next(CaptureRecord& out, std::string& error) = 0;
    virtual const char* Name() const = 0;
    // The USB link types of the interfaces seen so far.
    virtual std::vector<uint32_t> UsbLinkTypes() const = 0;
};

// Both take the reader at the start of the file, its magic number already
// recognised, and read the file header (pcapng: the first section header
// and the interface descriptions right after it). Null with `error` when
// that header is malformed or says the capture holds no USB.
std::unique_ptr<CaptureContainer> OpenPcap(std::unique_ptr<ByteReader> in, std::string& error);
std::unique_ptr<CaptureContainer> OpenPcapng(std::unique_ptr<ByteReader> in, std::string& error);

// How a record or block that the stream could not give whole ends the
// capture: at a record boundary (nothing of it read) a clean end, inside one
// a cut.
SourceStatus EndOfStream(StreamStatus s, bool insideRecord);

}  // namespace brisk::capture
