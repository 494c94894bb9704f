#include "sim/png_file.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

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

namespace {

void AppendBytes(void* context, void* data, int size) {
    auto* bytes = static_cast<std::vector<uint8_t>*>(context);
    const auto* first = static_cast<const uint8_t*>(data);
    bytes->insert(bytes->end(), first, first + size);
}

bool Fail(std::string* error, const std::string& reason) {
    if (error != nullptr) {
        *error = reason;
    }
    return false;
}

// stb's own file writer ignores a failing write (a full disk would leave a
// cut PNG behind and report success), so the file is written here.
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes,
                    std::string* error) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return Fail(error, std::strerror(errno));
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    const int writeErrno = errno;
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed) {
        const int code = !written ? writeErrno : errno;
        std::error_code ignored;
        if (std::filesystem::is_regular_file(path, ignored)) {
            std::remove(path.c_str());  // no cut PNG left behind
        }
        return Fail(error, std::strerror(code));
    }
    return true;
}

}  // namespace

bool WriteRgbaPng(const std::string& path, int width, int height, const uint8_t* rgba,
                  std::string* error) {
    if (width <= 0 || height <= 0 || rgba == nullptr || width > INT_MAX / 4) {
        return Fail(error, "no image to write");
    }
    std::vector<uint8_t> png;
    if (stbi_write_png_to_func(AppendBytes, &png, width, height, 4, rgba, width * 4) == 0) {
        return Fail(error, "the image cannot be encoded");
    }
    return WriteFileBytes(path, png, error);
}

bool CanCreateFile(const std::string& path, std::string& error) {
    std::FILE* existing = std::fopen(path.c_str(), "rb");
    if (existing != nullptr) {
        std::fclose(existing);
    }
    // Appending creates a missing file and leaves an existing one untouched.
    std::FILE* f = std::fopen(path.c_str(), "ab");
    if (f == nullptr) {
        error = std::strerror(errno);
        return false;
    }
    std::fclose(f);
    if (existing == nullptr) {
        std::remove(path.c_str());
    }
    return true;
}

}  // namespace brisk::sim
