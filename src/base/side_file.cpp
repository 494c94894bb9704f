#include "base/side_file.h"

#include <cerrno>
#include <cstring>

#include "base/output.h"

#ifdef _WIN32
#include "base/utf8.h"
#endif

namespace brisk {
namespace {

std::FILE* OpenForWriting(const std::string& path) {
#ifdef _WIN32
    return _wfopen(WideFromUtf8OrLatin1(path).c_str(), L"wb");
#else
    return std::fopen(path.c_str(), "wb");
#endif
}

std::string Reason(int code) {
    return std::strerror(code != 0 ? code : EIO);
}

}  // namespace

std::unique_ptr<SideFile> SideFile::Create(std::string option, std::string path,
                                           std::string& error) {
    errno = 0;
    std::FILE* file = OpenForWriting(path);
    if (file == nullptr) {
        error = Reason(errno);
        return nullptr;
    }
    return std::unique_ptr<SideFile>(new SideFile(file, std::move(option), std::move(path)));
}

SideFile::SideFile(std::FILE* file, std::string option, std::string path)
    : file(file), option(std::move(option)), path(std::move(path)) {}

SideFile::~SideFile() {
    Close();
}

bool SideFile::WriteFlushed(const void* data, size_t size, std::string& reason) {
    if (file == nullptr) {
        reason = "already stopped";
        return false;
    }
    errno = 0;
    if (std::fwrite(data, 1, size, file) == size && std::fflush(file) == 0) {
        return true;
    }
    reason = Reason(errno);
    Close();
    return false;
}

void SideFile::Stop(const std::string& reason) {
    Close();
    Print(stderr, "brisk: %s: stopped writing %s: %s; the run goes on\n", option.c_str(),
          path.c_str(), reason.c_str());
}

void SideFile::Close() {
    if (file != nullptr) {
        std::fclose(file);
        file = nullptr;
    }
}

}  // namespace brisk
