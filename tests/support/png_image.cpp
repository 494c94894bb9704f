#include "support/png_image.h"

#include <algorithm>
#include <fstream>

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#endif
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#include <stb_image.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace brisk::support {
namespace {

uint32_t BigEndian32(const unsigned char* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

}  // namespace

PngHeader ReadPngHeader(const std::string& path) {
    // Signature, then the IHDR chunk: length 13, type, width, height, depth, colour type.
    static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    unsigned char b[26] = {};
    std::ifstream f(path, std::ios::binary);
    f.read(reinterpret_cast<char*>(b), sizeof b);
    PngHeader h;
    if (f.gcount() != static_cast<std::streamsize>(sizeof b)) {
        return h;
    }
    h.signatureOk = std::equal(kSignature, kSignature + 8, b);
    h.ihdrFirst = BigEndian32(b + 8) == 13 && std::string(b + 12, b + 16) == "IHDR";
    h.width = BigEndian32(b + 16);
    h.height = BigEndian32(b + 20);
    h.bitDepth = b[24];
    h.colourType = b[25];
    return h;
}

PngImage::PngImage(const std::string& path) {
    int channels = 0;
    unsigned char* data = stbi_load(path.c_str(), &width, &height, &channels, 4);
    if (data == nullptr) {
        width = height = 0;
        return;
    }
    pixels.assign(data, data + static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    stbi_image_free(data);
}

Rgb PngImage::At(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) {
        return Rgb{-1, -1, -1};
    }
    const uint8_t* p = &pixels[(static_cast<size_t>(y) * width + x) * 4];
    return Rgb{p[0], p[1], p[2]};
}

int PngImage::Alpha(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) {
        return -1;
    }
    return pixels[(static_cast<size_t>(y) * width + x) * 4 + 3];
}

int PngImage::FindInRow(int y, int from, int to, const Rgb& c) const {
    for (int x = from; x < to; ++x) {
        if (At(x, y) == c) {
            return x;
        }
    }
    return -1;
}

int PngImage::RunLength(int x, int y, const Rgb& c) const {
    int n = 0;
    while (At(x + n, y) == c) {
        ++n;
    }
    return n;
}

PngImage::Box PngImage::AreaOf(const Rgb& c, int perRow) const {
    Box box{width, height, -1, -1, 0};
    for (int y = 0; y < height; ++y) {
        int first = -1, last = -1, inRow = 0;
        for (int x = 0; x < width; ++x) {
            if (At(x, y) == c) {
                first = first < 0 ? x : first;
                last = x;
                ++inRow;
            }
        }
        if (inRow >= perRow) {
            box.x0 = std::min(box.x0, first), box.y0 = std::min(box.y0, y);
            box.x1 = std::max(box.x1, last), box.y1 = std::max(box.y1, y);
            box.count += inRow;
        }
    }
    return box;
}

}  // namespace brisk::support
