#include "framework/SyncQueue.h"

namespace fw {

void TSyncQueue::Synchronize(const std::function<void()>& AProc)
{
    TRequest request{.Proc = &AProc, .Error = nullptr, .Done = false};
    {
        std::lock_guard guard(FLock);
        FQueue.push_back(&request);
    }
    FWake();
    // After Close the request is never run: the worker waits here until the
    // process ends, touching nothing else.
    std::unique_lock guard(FLock);
    FDone.wait(guard, [&] { return request.Done; });
    if (request.Error) std::rethrow_exception(request.Error);
}

bool TSyncQueue::CheckSynchronize()
{
    std::deque<TRequest*> batch;
    {
        std::lock_guard guard(FLock);
        if (FClosed) return false;
        batch.swap(FQueue);
    }
    for (TRequest* request : batch) {
        std::exception_ptr error;
        try {
            (*request->Proc)();
        } catch (...) {
            error = std::current_exception();
        }
        {
            std::lock_guard guard(FLock);
            request->Error = std::move(error);
            request->Done = true;
        }
        FDone.notify_all();
    }
    return !batch.empty();
}

void TSyncQueue::Close()
{
    std::lock_guard guard(FLock);
    FClosed = true;
}

} // namespace fw
