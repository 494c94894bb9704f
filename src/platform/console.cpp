#include "platform/console.h"

#include <atomic>
#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#endif

namespace brisk {
namespace {

std::atomic<ConsoleEventHandler> installedHandler{nullptr};

#ifdef _WIN32
// Set by ConsoleShutdownDone; a close event waits on it.
HANDLE shutdownDone = nullptr;

// The system gives a close handler about 5 s before it ends the process.
constexpr DWORD kCloseGraceMs = 4500;

BOOL WINAPI NativeHandler(DWORD eventType) {
    ConsoleEventHandler handler = installedHandler.load();
    if (handler == nullptr || !handler(eventType)) {
        return FALSE;
    }
    if (eventType == CTRL_CLOSE_EVENT && shutdownDone != nullptr) {
        WaitForSingleObject(shutdownDone, kCloseGraceMs);
    }
    return TRUE;
}
#else
unsigned long EventOfSignal(int sig) {
    switch (sig) {
        case SIGINT:
            return kCtrlCEvent;
        case SIGQUIT:
            return kCtrlBreakEvent;  // Ctrl+\ stands in for Ctrl+Break
        default:
            return kCtrlCloseEvent;  // SIGHUP, SIGTERM: the terminal or the session goes away
    }
}

void NativeHandler(int sig) {
    ConsoleEventHandler handler = installedHandler.load();
    if (handler != nullptr) {
        handler(EventOfSignal(sig));
    }
}
#endif

}  // namespace

void MakeConsoleUnbuffered() {
    std::setbuf(stdout, nullptr);
    std::setbuf(stderr, nullptr);
#ifdef _WIN32
    SetConsoleOutputCP(CP_UTF8);
#endif
}

void InstallConsoleHandler(ConsoleEventHandler handler) {
    installedHandler.store(handler);
#ifdef _WIN32
    if (shutdownDone == nullptr) {
        // Lives as long as the process, like the handler registration.
        shutdownDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    } else {
        // Each run installs the handler anew; a close during this run waits
        // for this run's shutdown, not an earlier one's.
        ResetEvent(shutdownDone);
    }
    SetConsoleCtrlHandler(NativeHandler, TRUE);
#else
    struct sigaction sa = {};
    sa.sa_handler = NativeHandler;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGQUIT, SIGHUP, SIGTERM}) {
        sigaction(sig, &sa, nullptr);
    }
#endif
}

void ConsoleShutdownDone() {
#ifdef _WIN32
    if (shutdownDone != nullptr) {
        SetEvent(shutdownDone);
    }
#endif
}

bool DeliverConsoleEvent(unsigned long eventType) {
#ifdef _WIN32
    return NativeHandler(eventType) != FALSE;
#else
    ConsoleEventHandler handler = installedHandler.load();
    return handler != nullptr && handler(eventType);
#endif
}

}  // namespace brisk
