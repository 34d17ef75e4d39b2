#pragma once
// The one road from worker threads to the user-interface thread.
// Platform-free: the wake-up (a posted WM_NULL in the program) is passed in.
//
// A worker calls Synchronize and blocks; the UI thread runs queued requests
// in FIFO order from CheckSynchronize, each outside the lock, then wakes the
// worker. An exception thrown by a request is carried back and re-thrown in
// the worker that handed it over. Once the queue is closed nothing handed
// over runs any more, and a worker that hands over stays blocked for good.
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>

namespace fw {

class TSyncQueue {
public:
    explicit TSyncQueue(std::function<void()> AWake) : FWake(std::move(AWake)) {}
    ~TSyncQueue() = default;
    TSyncQueue(const TSyncQueue&) = delete;
    TSyncQueue& operator=(const TSyncQueue&) = delete;

    // Worker side: hands AProc over and waits until it has run.
    void Synchronize(const std::function<void()>& AProc);

    // UI side: runs every request queued so far; true when any ran.
    bool CheckSynchronize();

    // UI side: no request runs from now on, queued or handed over later.
    void Close();

private:
    struct TRequest {
        const std::function<void()>* Proc;
        std::exception_ptr Error;
        bool Done = false;
    };

    std::function<void()> FWake;
    std::mutex FLock;
    std::condition_variable FDone;
    std::deque<TRequest*> FQueue;
    bool FClosed = false;
};

} // namespace fw
