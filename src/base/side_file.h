// A file the run writes beside its console output: the run log, a
// recording, and whatever comes next. One way to create it (a UTF-8 path,
// opened by its wide name on Windows), to write and flush it, and to say,
// once, that it stopped while the run goes on. Its owner alone writes it
// (one thread at a time) and prints the line outside any lock of its own.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

namespace brisk {

class SideFile {
  public:
    // Creates (or replaces) `path` for `option` ("--log", "--record"). Null,
    // with the system's reason in `error`, when it cannot be created.
    static std::unique_ptr<SideFile> Create(std::string option, std::string path,
                                            std::string& error);
    ~SideFile();
    SideFile(const SideFile&) = delete;
    SideFile& operator=(const SideFile&) = delete;

    // Writes all `size` bytes and flushes them. False, with the reason in
    // `reason` and the file closed, when that failed or the file is already
    // closed; nothing more is written.
    bool WriteFlushed(const void* data, size_t size, std::string& reason);

    // Prints "brisk: OPTION: stopped writing PATH: REASON; the run goes on"
    // and closes the file (whatever it holds so far stays).
    void Stop(const std::string& reason);

    const std::string& Path() const { return path; }
    bool Open() const { return file != nullptr; }

  private:
    SideFile(std::FILE* file, std::string option, std::string path);
    void Close();

    std::FILE* file;
    const std::string option;
    const std::string path;
};

}  // namespace brisk
