// A frame capture read back: the PNG's header as written, and its pixels.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace brisk::support {

struct Rgb {
    int r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};
inline std::ostream& operator<<(std::ostream& os, const Rgb& c) {
    return os << "(" << c.r << "," << c.g << "," << c.b << ")";
}

// The header fields of a PNG file, read from its bytes without a decoder.
struct PngHeader {
    bool signatureOk = false;
    bool ihdrFirst = false;
    uint32_t width = 0, height = 0;
    int bitDepth = 0, colourType = 0;
};
PngHeader ReadPngHeader(const std::string& path);

class PngImage {
  public:
    // Decodes the file to 8-bit RGBA; Loaded() tells whether that worked.
    explicit PngImage(const std::string& path);
    bool Loaded() const { return !pixels.empty(); }
    int Width() const { return width; }
    int Height() const { return height; }
    Rgb At(int x, int y) const;
    int Alpha(int x, int y) const;
    // Every pixel, RGBA, rows top to bottom.
    const std::vector<uint8_t>& Rgba() const { return pixels; }
    // First column in [from, to) of row y with colour c, or -1.
    int FindInRow(int y, int from, int to, const Rgb& c) const;
    // Number of consecutive columns from x on with colour c.
    int RunLength(int x, int y, const Rgb& c) const;

    // The box of the rows holding at least `perRow` pixels of colour c (the
    // edges of text elsewhere hold stray pixels of many colours), and how
    // many pixels of it those rows hold; x1 is -1 when there is none.
    struct Box {
        int x0 = 0, y0 = 0, x1 = -1, y1 = -1;
        long count = 0;
    };
    Box AreaOf(const Rgb& c, int perRow) const;

  private:
    int width = 0, height = 0;
    std::vector<uint8_t> pixels;
};

}  // namespace brisk::support
