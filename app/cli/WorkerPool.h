#pragma once
// Jobs run each in a child process of its own, a few at a time, under a wall-time limit (with a
// processor-time limit just above it) and a memory limit; each job's bytes, or how its process
// ended, come back to the parent. The pool owns its children: it forks them, reads their pipes,
// kills those past a limit, reaps every one (its destructor kills and reaps what is left), and
// forwards a stop signal (SIGINT, SIGTERM) to them. What a job's bytes mean is the caller's.

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tolvane_cli {

struct TWorkerLimits {
    double Timeout = 0;        // seconds of wall time per job; 0 for none
    long long MemoryBytes = 0; // address space per worker (resident memory as well); 0 for none
};

// Why the pool ended a worker itself. A worker may have finished its job just as it was killed:
// its bytes say so.
enum class TWorkerKill { None, Timeout, Memory, Stop };

struct TWorkerEnd {
    std::size_t Job = 0; // the caller's number for the job
    pid_t Pid = 0;
    std::string Bytes;  // everything the job gave before its process ended
    int WaitStatus = 0; // as waitpid gives it
    TWorkerKill Killed = TWorkerKill::None;
    double Seconds = 0; // wall time from the start to the end
};

enum class TWorkerStart { Started, NoPipe, NoProcess };

class TWorkerPool {
public:
    // Runs in the child; what it returns goes to the parent. The child leaves with _exit, so
    // the parent's exit handlers and buffers are never run twice.
    using TJob = std::function<std::string()>;

    TWorkerPool(std::size_t slots, TWorkerLimits limits);
    ~TWorkerPool();
    TWorkerPool(const TWorkerPool&) = delete;
    TWorkerPool& operator=(const TWorkerPool&) = delete;

    // From now on until the pool is destroyed SIGINT and SIGTERM no longer end the process: the
    // next Wait forwards them to the workers (a second one kills them outright) and StopSignal
    // gives the first. One pool at a time catches them.
    void CatchStopSignals();
    // The first stop signal caught, 0 for none.
    int StopSignal() const;

    bool Full() const { return FRunning.size() >= FSlots; }
    bool Empty() const { return FRunning.empty(); }
    TWorkerStart Start(std::size_t job, const TJob& run);
    // Waits until a worker ends, a limit passes or a stop signal comes, and gives the workers
    // that ended (none when it only acted on a limit or a signal).
    std::vector<TWorkerEnd> Wait();

private:
    struct TWorker {
        std::size_t Job;
        int Report; // read end of the worker's pipe
        std::string Received;
        std::chrono::steady_clock::time_point Started;
        TWorkerKill Killed = TWorkerKill::None;
    };
    void Forward(int signal);
    TWorkerEnd Reap(pid_t pid, TWorker& worker);

    std::size_t FSlots;
    TWorkerLimits FLimits;
    std::map<pid_t, TWorker> FRunning;
    bool FCatching = false;
    unsigned FStopsForwarded = 0;
};

// Called in a worker: stop signals no longer end it (they wait until it leaves), so a job past
// the point where stopping would leave things half done finishes instead.
void HoldStopSignals();

} // namespace tolvane_cli
