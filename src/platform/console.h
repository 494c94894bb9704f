// The console: unbuffered standard streams, UTF-8 output (the tool's lines
// carry em dashes), and delivery of the user's stop request (Ctrl+C,
// Ctrl+Break, closing the window; on POSIX SIGINT, SIGQUIT, SIGHUP, SIGTERM).
#pragma once

namespace brisk {

// Console event kinds, numbered as Windows numbers its control events.
constexpr unsigned long kCtrlCEvent = 0;
constexpr unsigned long kCtrlBreakEvent = 1;
constexpr unsigned long kCtrlCloseEvent = 2;
constexpr unsigned long kCtrlLogoffEvent = 5;
constexpr unsigned long kCtrlShutdownEvent = 6;

// Called on the system's thread (or from a signal handler on POSIX) for each
// console event; returns true when the event was handled. Must only store to
// atomics: it may run at any moment.
using ConsoleEventHandler = bool (*)(unsigned long eventType);

// setbuf(nullptr) on stdout and stderr; UTF-8 output code page on Windows.
void MakeConsoleUnbuffered();

// Registers the handler for the process's lifetime; installing it again
// (a second run in one process) re-arms the close wait below.
void InstallConsoleHandler(ConsoleEventHandler handler);

// Windows ends the process as soon as the handler returns from a close event.
// So that the run still shuts down in order (totals, verdict, display
// released), the handler waits after a close event until the driver calls
// ConsoleShutdownDone, within the time the system allows.
void ConsoleShutdownDone();

// Delivers one event the way the system does, waits included (on Windows a
// close event blocks here until ConsoleShutdownDone). For tests.
bool DeliverConsoleEvent(unsigned long eventType);

}  // namespace brisk
