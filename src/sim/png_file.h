// Frame captures as PNG files.
#pragma once

#include <cstdint>
#include <string>

namespace brisk::sim {

// Writes an 8-bit RGBA image (rows top to bottom, 4 bytes a pixel, no padding).
// False when the file cannot be written.
bool WriteRgbaPng(const std::string& path, int width, int height, const uint8_t* rgba);

}  // namespace brisk::sim
