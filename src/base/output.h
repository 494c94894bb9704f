// One way out for every line the tool prints. Several threads print (the
// status monitor, the readers, the present loop), and each line must reach
// the console whole: a printf to an unbuffered stream may be written out in
// pieces (on Windows it is), so another thread's line could land inside it.
// Here a line is formatted in full first, then written with one write call.
// One listener (the run log) may be told of every line once it is written.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string_view>

#include "base/line_event.h"
#include "base/printf_format.h"

namespace brisk {

// Formats like printf and writes the result to `stream` (stdout or stderr) in
// one call. The text carries its own newline, as a printf format would.
void Print(std::FILE* stream, const char* format, ...) BRISK_PRINTF_FORMAT(2, 3);
// The same for a line that marks `event`.
void PrintEvent(LineEvent event, std::FILE* stream, const char* format, ...)
    BRISK_PRINTF_FORMAT(3, 4);

// Writes already formatted text (whole lines, newlines included) in one call.
void PrintText(std::FILE* stream, std::string_view text, LineEvent event = LineEvent::kNone);

// Told of each line after it is written: the stream, the text as written
// (one or more whole lines) and what it marks. Called on the printing thread,
// outside any lock; it may print (and is then told of that too).
using OutputListener =
    std::function<void(std::FILE* stream, std::string_view text, LineEvent event)>;

// Installs the one listener; an empty one removes it. A Print already under
// way on another thread may still reach the listener it found, so its owner
// removes it only once the threads that print have ended.
void SetOutputListener(OutputListener listener);

// How many lines marking `event` have been printed since the process
// started. Lock-free, from any thread: the metrics take reconnects and
// don/doff events from here rather than counting them a second time.
uint64_t LinesMarked(LineEvent event);

// PrintText without telling the listener: for a line whose caller hands it to
// the listener's owner itself, with more than its text (the status line).
void PrintTextUnheard(std::FILE* stream, std::string_view text);

}  // namespace brisk
