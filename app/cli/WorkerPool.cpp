#include "WorkerPool.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fstream>

namespace tolvane_cli {

namespace {

using TClock = std::chrono::steady_clock;

// How often the parent looks at the resident memory of its workers: the memory limit's only
// enforcement in sanitizer builds, a second line behind the address-space limit elsewhere.
constexpr int kWatchMilliseconds = 50;

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer reserves terabytes of address space for its shadow: an address-space limit
// would stop every worker at its first allocation.
constexpr bool kLimitAddressSpace = false;
#else
constexpr bool kLimitAddressSpace = true;
#endif

constexpr int kStopSignals[] = {SIGINT, SIGTERM};

// The stop signals' handler tells the poll loop through a pipe to itself; it only sets flags and
// writes one byte, both safe in a handler.
int gStopPipe[2] = {-1, -1};
volatile sig_atomic_t gStopSignal = 0;
volatile sig_atomic_t gStopCount = 0;
struct sigaction gPrevious[2];
bool gCaught[2] = {false, false};

extern "C" void onStopSignal(int signal) {
    const int saved = errno;
    if (gStopSignal == 0)
        gStopSignal = signal;
    gStopCount = gStopCount + 1;
    const char byte = 0;
    [[maybe_unused]] const ssize_t written = write(gStopPipe[1], &byte, 1);
    errno = saved;
}

void restoreStopSignals() {
    for (int i = 0; i < 2; ++i)
        if (gCaught[i]) {
            sigaction(kStopSignals[i], &gPrevious[i], nullptr);
            gCaught[i] = false;
        }
}

sigset_t stopSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : kStopSignals)
        sigaddset(&set, signal);
    return set;
}

long long residentBytes(pid_t pid) {
    std::ifstream statm("/proc/" + std::to_string(pid) + "/statm");
    long long size = 0;
    long long resident = 0;
    if (!(statm >> size >> resident))
        return 0;
    return resident * sysconf(_SC_PAGESIZE);
}

// The child: the parent's signal handling undone, limits set, the job run, its bytes written
// to `report`.
[[noreturn]] void runChild(const TWorkerPool::TJob& run, int report, const TWorkerLimits& limits,
                           const sigset_t& mask) {
    restoreStopSignals();
    if (gStopPipe[0] >= 0) {
        close(gStopPipe[0]);
        close(gStopPipe[1]);
    }
    sigprocmask(SIG_SETMASK, &mask, nullptr);
    const int devNull = open("/dev/null", O_RDWR);
    if (devNull >= 0) {
        dup2(devNull, 0);
        dup2(devNull, 1); // the parent's stdout carries its report only
        close(devNull);
    }
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    if (limits.Timeout > 0) { // a backstop behind the parent's wall-clock deadline
        const auto seconds = static_cast<rlim_t>(std::ceil(limits.Timeout)) + 1;
        const rlimit cpu{seconds, seconds + 1};
        setrlimit(RLIMIT_CPU, &cpu);
    }
    if (kLimitAddressSpace && limits.MemoryBytes > 0) {
        const auto bytes = static_cast<rlim_t>(limits.MemoryBytes);
        const rlimit memory{bytes, bytes};
        setrlimit(RLIMIT_AS, &memory);
    }
    std::string bytes;
    try {
        bytes = run();
    } catch (...) {
        _exit(70);
    }
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = write(report, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    _exit(0);
}

} // namespace

TWorkerPool::TWorkerPool(std::size_t slots, TWorkerLimits limits)
    : FSlots(std::max<std::size_t>(1, slots)), FLimits(limits) {}

TWorkerPool::~TWorkerPool() {
    for (auto& [pid, worker] : FRunning) {
        kill(pid, SIGKILL);
        close(worker.Report);
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    if (FCatching) {
        restoreStopSignals();
        close(gStopPipe[0]);
        close(gStopPipe[1]);
        gStopPipe[0] = gStopPipe[1] = -1;
        gStopSignal = 0;
        gStopCount = 0;
    }
}

void TWorkerPool::CatchStopSignals() {
    if (FCatching || pipe2(gStopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    FCatching = true;
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    action.sa_mask = stopSignalSet(); // one handler at a time: the counter stays exact
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 2; ++i) {
        sigaction(kStopSignals[i], nullptr, &gPrevious[i]);
        // A signal ignored by whoever started us (a shell's background job ignores SIGINT)
        // stays ignored.
        if (gPrevious[i].sa_handler == SIG_IGN)
            continue;
        sigaction(kStopSignals[i], &action, nullptr);
        gCaught[i] = true;
    }
}

int TWorkerPool::StopSignal() const {
    return FCatching ? static_cast<int>(gStopSignal) : 0;
}

TWorkerStart TWorkerPool::Start(std::size_t job, const TJob& run) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return TWorkerStart::NoPipe;
    std::fflush(stdout);
    std::fflush(stderr);
    // Stop signals wait while the child is made, so none reaches it with the parent's handler.
    const sigset_t stops = stopSignalSet();
    sigset_t previous;
    sigprocmask(SIG_BLOCK, &stops, &previous);
    const pid_t pid = fork();
    if (pid == 0) {
        close(ends[0]);
        runChild(run, ends[1], FLimits, previous);
    }
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    close(ends[1]);
    if (pid < 0) {
        close(ends[0]);
        return TWorkerStart::NoProcess;
    }
    FRunning[pid] = TWorker{job, ends[0], {}, TClock::now()};
    return TWorkerStart::Started;
}

void TWorkerPool::Forward(int signal) {
    for (auto& [pid, worker] : FRunning) {
        if (signal != SIGKILL && worker.Killed == TWorkerKill::None)
            worker.Killed = TWorkerKill::Stop;
        kill(pid, signal);
    }
}

TWorkerEnd TWorkerPool::Reap(pid_t pid, TWorker& worker) {
    TWorkerEnd end;
    end.Job = worker.Job;
    end.Pid = pid;
    while (waitpid(pid, &end.WaitStatus, 0) < 0 && errno == EINTR) {
    }
    close(worker.Report);
    end.Bytes = std::move(worker.Received);
    end.Killed = worker.Killed;
    end.Seconds = std::chrono::duration<double>(TClock::now() - worker.Started).count();
    return end;
}

std::vector<TWorkerEnd> TWorkerPool::Wait() {
    std::vector<TWorkerEnd> ended;
    std::vector<pollfd> watched;
    std::vector<pid_t> owners;
    for (const auto& [pid, worker] : FRunning) {
        watched.push_back({worker.Report, POLLIN, 0});
        owners.push_back(pid);
    }
    if (FCatching)
        watched.push_back({gStopPipe[0], POLLIN, 0});
    int wait = kWatchMilliseconds;
    if (FLimits.Timeout > 0)
        for (const auto& [pid, worker] : FRunning) {
            const auto left = std::chrono::duration<double>(
                worker.Started + std::chrono::duration<double>(FLimits.Timeout) - TClock::now());
            wait = std::min(wait, std::max(0, static_cast<int>(std::ceil(left.count() * 1000))));
        }
    poll(watched.data(), watched.size(), wait);

    if (FCatching) {
        char drained[64];
        while (read(gStopPipe[0], drained, sizeof drained) > 0) {
        }
        const auto caught = static_cast<unsigned>(gStopCount);
        if (caught > FStopsForwarded) {
            Forward(FStopsForwarded == 0 ? static_cast<int>(gStopSignal) : SIGKILL);
            FStopsForwarded = caught;
        }
    }

    for (std::size_t i = 0; i < owners.size(); ++i) {
        if (!(watched[i].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        TWorker& worker = FRunning.at(owners[i]);
        char buffer[4096];
        const ssize_t n = read(worker.Report, buffer, sizeof buffer);
        if (n > 0) {
            worker.Received.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // The pipe closed: the worker has ended or is ending.
        ended.push_back(Reap(owners[i], worker));
        FRunning.erase(owners[i]);
    }

    const TClock::time_point now = TClock::now();
    for (auto& [pid, worker] : FRunning) {
        if (worker.Killed != TWorkerKill::None)
            continue;
        if (FLimits.Timeout > 0 &&
            now - worker.Started >= std::chrono::duration<double>(FLimits.Timeout))
            worker.Killed = TWorkerKill::Timeout;
        else if (FLimits.MemoryBytes > 0 && residentBytes(pid) > FLimits.MemoryBytes)
            worker.Killed = TWorkerKill::Memory;
        if (worker.Killed != TWorkerKill::None)
            kill(pid, SIGKILL);
    }
    return ended;
}

void HoldStopSignals() {
    const sigset_t stops = stopSignalSet();
    sigprocmask(SIG_BLOCK, &stops, nullptr);
}

} // namespace tolvane_cli
