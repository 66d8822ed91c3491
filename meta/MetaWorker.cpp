#include "MetaWorker.h"

#include "GuiThread.h"

TMetaWorker::TMetaWorker(QObject *parent) : QObject(parent), FThread([this] { Run(); }) {}

TMetaWorker::~TMetaWorker() {
    {
        std::lock_guard<std::mutex> lock(FLock);
        FQuit = true;
        FJobs.clear();
    }
    FWake.notify_all();
    FThread.join();
    // Results already posted are events for this object, which Qt drops with it.
}

void TMetaWorker::Post(std::function<std::function<void()>()> work) {
    {
        std::lock_guard<std::mutex> lock(FLock);
        FJobs.emplace_back(FGeneration, std::move(work));
        ++FPending;
    }
    FWake.notify_one();
}

void TMetaWorker::Cancel() {
    std::lock_guard<std::mutex> lock(FLock);
    FPending -= int(FJobs.size());
    FJobs.clear();
    ++FGeneration;
}

bool TMetaWorker::Busy() const {
    std::lock_guard<std::mutex> lock(FLock);
    return FPending > 0;
}

void TMetaWorker::Run() {
    for (;;) {
        std::pair<unsigned, std::function<std::function<void()>()>> job;
        {
            std::unique_lock<std::mutex> lock(FLock);
            FWake.wait(lock, [this] { return FQuit || !FJobs.empty(); });
            if (FQuit)
                return;
            job = std::move(FJobs.front());
            FJobs.pop_front();
        }
        std::function<void()> result;
        try {
            result = job.second();
        } catch (...) {
            // A reader that raises has nothing to show; the next job still runs.
        }
        PostTo(this, [this, generation = job.first, result = std::move(result)]() mutable {
            Deliver(generation, std::move(result));
        });
    }
}

void TMetaWorker::Deliver(unsigned generation, std::function<void()> result) {
    {
        std::lock_guard<std::mutex> lock(FLock);
        --FPending;
        if (generation != FGeneration)
            return;
    }
    if (result)
        result();
}
