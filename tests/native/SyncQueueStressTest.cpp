// Several workers hand requests to a "UI thread" loop at once, under
// ThreadSanitizer: every request runs on the UI thread, in order per worker,
// its effects are visible to the worker afterwards, and exceptions come back.
#include "framework/SyncQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

// Stands in for the message loop woken by a posted message.
class TWakeSignal {
public:
    void Wake()
    {
        {
            std::lock_guard guard(FLock);
            FPending = true;
        }
        FCondition.notify_one();
    }

    void WaitBriefly()
    {
        std::unique_lock guard(FLock);
        FCondition.wait_for(guard, std::chrono::milliseconds(20), [&] { return FPending; });
        FPending = false;
    }

private:
    std::mutex FLock;
    std::condition_variable FCondition;
    bool FPending = false;
};

struct ERequestFailed : std::runtime_error {
    ERequestFailed(int AWorker, int ASequence)
        : std::runtime_error(std::to_string(AWorker) + ":" + std::to_string(ASequence))
    {
    }
};

TEST(SyncQueue, WorkersHandOverConcurrently)
{
    constexpr int kWorkers = 4;
    constexpr int kRequests = 1500;
    constexpr int kThrowEvery = 7;

    TWakeSignal wake;
    fw::TSyncQueue queue([&] { wake.Wake(); });
    const std::thread::id uiThread = std::this_thread::get_id();

    // Touched only by requests, i.e. only on the UI thread.
    std::vector<std::pair<int, int>> log;
    int wrongThread = 0;

    std::atomic<int> finished{0};
    std::vector<int> failures(kWorkers, 0);
    std::vector<int> caught(kWorkers, 0);
    // Each carried-back exception stays referenced until after the joins.
    // libstdc++ counts exception references with atomics in code TSan does
    // not see, so a last release on the UI thread after the worker read the
    // exception would be reported as a race that is not there.
    std::vector<std::vector<std::exception_ptr>> kept(kWorkers);
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.emplace_back([&, w] {
            for (int s = 0; s < kRequests; ++s) {
                int result = -1; // written on the UI thread, read here after the hand-off
                try {
                    queue.Synchronize([&] {
                        if (std::this_thread::get_id() != uiThread) ++wrongThread;
                        log.emplace_back(w, s);
                        result = s * 2;
                        if (s % kThrowEvery == 0) throw ERequestFailed(w, s);
                    });
                    if (s % kThrowEvery == 0) ++failures[w];
                } catch (const ERequestFailed& e) {
                    if (s % kThrowEvery != 0 || e.what() != std::to_string(w) + ":" + std::to_string(s)) ++failures[w];
                    ++caught[w];
                    kept[w].push_back(std::current_exception());
                }
                if (result != s * 2) ++failures[w];
            }
            finished.fetch_add(1);
        });
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (finished.load() < kWorkers && std::chrono::steady_clock::now() < deadline) {
        wake.WaitBriefly();
        queue.CheckSynchronize();
    }
    // A worker may still be waiting for its last request if the deadline hit.
    while (finished.load() < kWorkers) queue.CheckSynchronize();
    for (std::thread& worker : workers) worker.join();
    EXPECT_FALSE(queue.CheckSynchronize());

    EXPECT_EQ(wrongThread, 0);
    ASSERT_EQ(log.size(), static_cast<size_t>(kWorkers * kRequests));
    std::vector<int> next(kWorkers, 0);
    for (const auto& [worker, sequence] : log) {
        ASSERT_EQ(sequence, next[worker]) << "worker " << worker << " out of order";
        ++next[worker];
    }
    for (int w = 0; w < kWorkers; ++w) {
        EXPECT_EQ(failures[w], 0) << "worker " << w;
        EXPECT_EQ(caught[w], (kRequests + kThrowEvery - 1) / kThrowEvery) << "worker " << w;
    }
}

// The program's loop ends while workers are still out: what is queued then,
// or handed over later, never runs, and its worker stays blocked without the
// queue touching anything else.
TEST(SyncQueue, AfterCloseNothingRunsAndWorkersStayBlocked)
{
    // Both outlive the test on purpose, as the program's queue outlives its
    // loop: the blocked workers are never joined.
    static auto* wakes = new std::atomic<int>{0};
    static auto* queue = new fw::TSyncQueue([] { wakes->fetch_add(1); });
    static std::atomic<int> ran{0}, returned{0};

    std::thread([] {
        queue->Synchronize([] { ran.fetch_add(1); });
        returned.fetch_add(1);
    }).detach();
    while (wakes->load() < 1) std::this_thread::yield();
    queue->Close();
    EXPECT_FALSE(queue->CheckSynchronize()) << "a request queued before the close ran";

    std::thread([] {
        queue->Synchronize([] { ran.fetch_add(1); });
        returned.fetch_add(1);
    }).detach();
    while (wakes->load() < 2) std::this_thread::yield();
    EXPECT_FALSE(queue->CheckSynchronize()) << "a request handed over after the close ran";
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(ran.load(), 0);
    EXPECT_EQ(returned.load(), 0) << "a worker came back from a closed queue";
}

} // namespace
