#include "base/output.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <memory>
#include <mutex>
#include <string>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace brisk {
namespace {

// Most lines fit; a longer one is formatted again into a string of its size.
constexpr size_t kLineBytes = 512;

// The C runtime's own write: no stdio buffer, no locale, and (on Windows) the
// same text-mode newline handling every earlier line had.
void WriteAll(std::FILE* stream, const char* data, size_t size) {
#ifdef _WIN32
    const int fd = _fileno(stream);
#else
    const int fd = fileno(stream);
#endif
    while (size > 0) {
#ifdef _WIN32
        const int chunk = size > 0x40000000 ? 0x40000000 : static_cast<int>(size);
        const int written = _write(fd, data, static_cast<unsigned>(chunk));
#else
        const ssize_t written = write(fd, data, size);
#endif
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;  // nowhere left to say it
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
}

// The listener is copied out under the lock and called after it is released:
// the lock is never held while a line is written or heard.
std::mutex listenerMutex;
std::shared_ptr<const OutputListener> listener;

void Tell(std::FILE* stream, std::string_view text, LineEvent event) {
    std::shared_ptr<const OutputListener> heard;
    {
        std::lock_guard<std::mutex> lock(listenerMutex);
        heard = listener;
    }
    if (heard) {
        (*heard)(stream, text, event);
    }
}

// Lines printed per event; relaxed, as nothing else is ordered by them.
std::array<std::atomic<uint64_t>, kLineEventNames.size()> marked{};

}  // namespace

uint64_t LinesMarked(LineEvent event) {
    const auto i = static_cast<size_t>(event);
    return i < marked.size() ? marked[i].load(std::memory_order_relaxed) : 0;
}

void SetOutputListener(OutputListener newListener) {
    std::shared_ptr<const OutputListener> next;
    if (newListener) {
        next = std::make_shared<const OutputListener>(std::move(newListener));
    }
    std::lock_guard<std::mutex> lock(listenerMutex);
    listener = std::move(next);
}

void PrintTextUnheard(std::FILE* stream, std::string_view text) {
    WriteAll(stream, text.data(), text.size());
}

void PrintText(std::FILE* stream, std::string_view text, LineEvent event) {
    WriteAll(stream, text.data(), text.size());
    if (event != LineEvent::kNone && static_cast<size_t>(event) < marked.size()) {
        marked[static_cast<size_t>(event)].fetch_add(1, std::memory_order_relaxed);
    }
    Tell(stream, text, event);
}

namespace {

void PrintFormatted(LineEvent event, std::FILE* stream, const char* format, va_list args) {
    char line[kLineBytes];
    va_list again;
    va_copy(again, args);
    const int needed = std::vsnprintf(line, sizeof line, format, args);
    if (needed >= 0 && static_cast<size_t>(needed) < sizeof line) {
        PrintText(stream, std::string_view(line, static_cast<size_t>(needed)), event);
    } else if (needed >= 0) {
        std::string longLine(static_cast<size_t>(needed) + 1, '\0');
        std::vsnprintf(longLine.data(), longLine.size(), format, again);
        PrintText(stream, std::string_view(longLine.data(), static_cast<size_t>(needed)), event);
    }
    va_end(again);
}

}  // namespace

void Print(std::FILE* stream, const char* format, ...) {
    va_list args;
    va_start(args, format);
    PrintFormatted(LineEvent::kNone, stream, format, args);
    va_end(args);
}

void PrintEvent(LineEvent event, std::FILE* stream, const char* format, ...) {
    va_list args;
    va_start(args, format);
    PrintFormatted(event, stream, format, args);
    va_end(args);
}

}  // namespace brisk
