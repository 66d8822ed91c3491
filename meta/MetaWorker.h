// One thread that reads pictures' metadata for a window, in the order asked, so the window
// never waits for a file.
#pragma once

#include <QObject>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class TMetaWorker : public QObject {
    Q_OBJECT
public:
    explicit TMetaWorker(QObject *parent = nullptr);
    // Drops the jobs not yet begun and waits for the one running; its result is not delivered.
    ~TMetaWorker() override;

    // Runs work on the worker thread; what it returns then runs on this object's thread, unless
    // Cancel or the destructor came first. work must not touch widgets.
    void Post(std::function<std::function<void()>()> work);
    // Drops every job not yet begun and the results not yet delivered.
    void Cancel();
    // True while jobs wait or run, or results wait to be delivered.
    bool Busy() const;

private:
    void Run();
    void Deliver(unsigned generation, std::function<void()> result);

    mutable std::mutex FLock;
    std::condition_variable FWake;
    std::deque<std::pair<unsigned, std::function<std::function<void()>()>>> FJobs;
    unsigned FGeneration = 0;
    int FPending = 0; // jobs queued or running, and results on their way
    bool FQuit = false;
    std::thread FThread;
};
