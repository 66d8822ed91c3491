// A worker thread in the program's style: created suspended, started by Resume, asked to stop
// by Terminate (a flag the worker polls), OnTerminate run on the GUI thread after Execute has
// returned, and FreeOnTerminate to let the object delete itself after that.
#pragma once

#include <QThread>

#include <atomic>
#include <functional>

class TThread {
public:
    explicit TThread(bool createSuspended = true);
    virtual ~TThread();
    TThread(const TThread &) = delete;
    TThread &operator=(const TThread &) = delete;

    void Resume();
    // Sets Terminated; the worker stops at its next look at the flag.
    void Terminate() { FTerminated = true; }
    bool Terminated() const { return FTerminated; }
    bool Finished() const { return FFinished; }

    bool FreeOnTerminate = false;
    std::function<void(TThread *)> OnTerminate;

    // GUI thread, not for FreeOnTerminate threads: waits for the end of the run (OnTerminate
    // included) while processing events, so a worker blocked on the GUI thread can finish. False on
    // time-out.
    bool WaitFor(int timeoutMs = 10000);
    // At program end: waits (processing events) for every thread still running.
    static void WaitForAll(int timeoutMs = 10000);

protected:
    virtual void Execute() = 0;

private:
    class Worker : public QThread {
    public:
        explicit Worker(TThread *owner) : FOwner(owner) {}
        void run() override;

    private:
        TThread *FOwner;
    };
    void Run();
    void DoTerminate();

    Worker FWorker;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
    bool FStarted = false;
};
