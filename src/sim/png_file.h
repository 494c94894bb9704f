// Frame captures as PNG files.
#pragma once

#include <cstdint>
#include <string>

namespace brisk::sim {

// Writes an 8-bit RGBA image (rows top to bottom, 4 bytes a pixel, no padding).
// False when the file cannot be written, with the reason in `error` when given.
bool WriteRgbaPng(const std::string& path, int width, int height, const uint8_t* rgba,
                  std::string* error = nullptr);

// Whether `path` can be created or written, found out before a run so that a
// mistyped folder is not learnt only at its end. Leaves no file behind and an
// existing one as it was. False with the reason in `error`.
bool CanCreateFile(const std::string& path, std::string& error);

}  // namespace brisk::sim
