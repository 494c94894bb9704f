#include "sim/png_file.h"

#include <climits>

// stb's writer is a single-header library from Debian's libstb-dev; its
// implementation is compiled here, once.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#endif
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#include <stb_image_write.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace brisk::sim {

bool WriteRgbaPng(const std::string& path, int width, int height, const uint8_t* rgba) {
    if (width <= 0 || height <= 0 || rgba == nullptr || width > INT_MAX / 4) {
        return false;
    }
    return stbi_write_png(path.c_str(), width, height, 4, rgba, width * 4) != 0;
}

}  // namespace brisk::sim
