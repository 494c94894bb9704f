#include "support/subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <sstream>
#include <thread>

#include "support/output_capture.h"

extern char** environ;

namespace brisk::test {
namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// One of the child's output streams, cut into lines as the bytes arrive.
struct Stream {
    int fd = -1;
    LineCutter cutter;
    std::vector<TimedLine>* lines = nullptr;
};

// Returns true when a completed stdout line asks for the SIGINT.
bool TakeBytes(Stream& s, const char* data, size_t n, double now, const std::string& trigger) {
    bool hit = false;
    s.cutter.Take(data, n, [&](std::string line) {
        hit = hit || (!trigger.empty() && line.find(trigger) != std::string::npos);
        s.lines->push_back({now, std::move(line)});
    });
    return hit;
}

void CloseStream(Stream& s, double now) {
    close(s.fd);
    s.fd = -1;
    s.cutter.Finish([&](std::string line) { s.lines->push_back({now, std::move(line)}); });
}

// The child starts with the default handling of the console signals and
// nothing blocked, whatever the test runner set for itself.
void PrepareSpawnAttributes(posix_spawnattr_t& attr) {
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
        sigaddset(&defaults, sig);
    }
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
}

bool Spawn(const std::vector<std::string>& argv, const std::string& folder, int outWrite,
           int errWrite, pid_t& pid) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!folder.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    }
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outWrite, 1);
    posix_spawn_file_actions_adddup2(&actions, errWrite, 2);
    posix_spawnattr_t attr;
    PrepareSpawnAttributes(attr);

    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    int rc = posix_spawn(&pid, args[0], &actions, &attr, args.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0;
}

// Reads both streams to their end, sending SIGINT and SIGKILL when due.
void Pump(pid_t pid, Stream streams[2], const RunOptions& options, Clock::time_point t0,
          RunResult& result) {
    bool sigintDue = false;
    while (streams[0].fd >= 0 || streams[1].fd >= 0) {
        double now = Since(t0);
        if (!result.timedOut && now >= options.timeoutSeconds) {
            kill(pid, SIGKILL);
            result.timedOut = true;
        }
        if (result.sigintSeconds < 0 &&
            (sigintDue || (options.sigintAfterSeconds >= 0 && now >= options.sigintAfterSeconds))) {
            kill(pid, SIGINT);
            result.sigintSeconds = now;
        }
        double next = result.timedOut ? now + 0.1 : options.timeoutSeconds;
        if (result.sigintSeconds < 0 && options.sigintAfterSeconds >= 0 &&
            options.sigintAfterSeconds < next) {
            next = options.sigintAfterSeconds;
        }
        int waitMs = static_cast<int>((next - now) * 1000.0) + 1;

        pollfd fds[2];
        for (int i = 0; i < 2; ++i) {
            fds[i] = {streams[i].fd, POLLIN, 0};  // a negative fd is skipped
        }
        if (poll(fds, 2, waitMs) < 0 && errno != EINTR) {
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (streams[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            char buf[4096];
            ssize_t n = read(streams[i].fd, buf, sizeof buf);
            if (n > 0) {
                const std::string& trigger = i == 0 ? options.sigintOnLine : std::string();
                sigintDue =
                    TakeBytes(streams[i], buf, static_cast<size_t>(n), Since(t0), trigger) ||
                    sigintDue;
            } else if (n == 0 || errno != EINTR) {
                CloseStream(streams[i], Since(t0));
            }
        }
    }
}

void Reap(pid_t pid, const RunOptions& options, Clock::time_point t0, RunResult& result) {
    int status = 0;
    while (true) {
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            break;
        }
        if (r < 0 && errno != EINTR) {
            return;
        }
        if (!result.timedOut && Since(t0) >= options.timeoutSeconds) {
            kill(pid, SIGKILL);
            result.timedOut = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    result.endSeconds = Since(t0);
    if (WIFEXITED(status)) {
        result.exited = true;
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.termSignal = WTERMSIG(status);
    }
}

void AppendLines(std::ostringstream& os, const char* name, const std::vector<TimedLine>& lines) {
    os << "--- " << name << " (" << lines.size() << " lines)\n";
    char stamp[32];
    for (const TimedLine& l : lines) {
        std::snprintf(stamp, sizeof stamp, "[%7.3f] ", l.seconds);
        os << stamp << l.text << "\n";
    }
}

}  // namespace

RunResult RunProgram(const std::vector<std::string>& argv, const RunOptions& options) {
    RunResult result;
    int outPipe[2], errPipe[2];
    if (argv.empty() || pipe2(outPipe, O_CLOEXEC) != 0) {
        return result;
    }
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return result;
    }
    Clock::time_point t0 = Clock::now();
    pid_t pid = -1;
    result.started = Spawn(argv, options.workingFolder, outPipe[1], errPipe[1], pid);
    close(outPipe[1]);
    close(errPipe[1]);
    Stream streams[2];
    streams[0] = {outPipe[0], {}, &result.out};
    streams[1] = {errPipe[0], {}, &result.err};
    if (!result.started) {
        CloseStream(streams[0], 0.0);
        CloseStream(streams[1], 0.0);
        return result;
    }
    Pump(pid, streams, options, t0, result);
    for (Stream& s : streams) {
        if (s.fd >= 0) {
            CloseStream(s, Since(t0));
        }
    }
    Reap(pid, options, t0, result);
    return result;
}

std::string Describe(const RunResult& run) {
    std::ostringstream os;
    os << "started=" << run.started << " exited=" << run.exited << " exitCode=" << run.exitCode
       << " signal=" << run.termSignal << " timedOut=" << run.timedOut
       << " sigintAt=" << run.sigintSeconds << " endAt=" << run.endSeconds << "\n";
    AppendLines(os, "stdout", run.out);
    AppendLines(os, "stderr", run.err);
    return os.str();
}

}  // namespace brisk::test
