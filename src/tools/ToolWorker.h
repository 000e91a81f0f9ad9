// The worker thread of an export or a stitch and the flags it shares with whoever started it (a
// dialog's 1000 ms timer, or qxtool). Each flag has one side that sets it and one that clears it.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

struct ToolFlags {
    std::atomic<bool> abortRequest{false}; // set by the starter, cleared by the worker when it ends
    std::atomic<bool> running{false};      // set by the starter, cleared by the worker
    std::atomic<bool> done{false};         // set by the worker, cleared by the starter
    std::atomic<bool> failed{false};       // written by the worker before done
    std::atomic<int> progress{0};          // percent, written by the worker
    // Why the job failed, in one line; written only by the worker before it sets done, read by the
    // starter only once it has seen done (the store to done orders the two).
    std::string reason;
};

// Ends a job as failed with reason; for `return Failed(flags, ...)`.
inline bool Failed(ToolFlags& flags, std::string reason) {
    flags.reason = std::move(reason);
    return false;
}

class CToolWorker {
public:
    CToolWorker() = default;
    ~CToolWorker() { Join(); }
    CToolWorker(const CToolWorker&) = delete;
    CToolWorker& operator=(const CToolWorker&) = delete;

    ToolFlags flags;

    bool Running() const { return flags.running.load(); }

    // Starts job on a thread of its own unless one runs; the job's result becomes the negation of
    // failed. Returns false when a worker still runs.
    bool Start(std::function<bool(ToolFlags&)> job) {
        if (flags.running.load()) return false;
        Join();
        flags.abortRequest = false;
        flags.done = false;
        flags.failed = false;
        flags.progress = 0;
        flags.reason.clear();
        flags.running = true;
        thread = std::thread([this, job = std::move(job)] {
            const bool ok = job(flags);
            flags.abortRequest = false;
            flags.running = false;
            flags.failed = !ok;
            flags.done = true;
        });
        return true;
    }

    void RequestAbort() {
        if (flags.running.load()) flags.abortRequest = true;
    }

    // Waits for the thread; whoever owns the state the job reads calls this before letting it go.
    void Join() {
        if (thread.joinable()) thread.join();
    }

private:
    std::thread thread;
};
