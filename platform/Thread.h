// A worker thread in the program's style: created suspended, started by Resume, asked to stop
// by Terminate (a flag the worker polls), OnTerminate run on the GUI thread after Execute has
// returned, and FreeOnTerminate to let the object delete itself after that.
//
// Create, delete and wait for threads on the GUI thread. The end-of-run call is queued to an
// object the thread owns, so deleting the thread before it is delivered drops it.
#pragma once

#include <QThread>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class QEventLoop;

class TThread {
public:
    explicit TThread(bool createSuspended = true);
    // Deleting a thread whose Execute still runs stops and waits for it, but the derived
    // object is gone by then: stop it first (Terminate and WaitFor).
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
    // OnTerminate bound to a receiver: once the receiver is destroyed it is no longer called.
    void SetOnTerminate(QObject *receiver, std::function<void(TThread *)> handler);

    // Waits for the end of the run (OnTerminate included); false on time-out (none when negative)
    // or when the thread was never started. On the GUI thread
    // the wait delivers posted events except user input, so a worker blocked on the GUI thread
    // (a list-view read, a message box) can finish. A FreeOnTerminate thread may be waited for
    // there too: true means it has ended and deleted itself. Elsewhere, only threads that do not
    // free themselves.
    bool WaitFor(int timeoutMs = 10000);
    // At program end, on the GUI thread: asks every running thread to stop and waits for them.
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
    void MarkFinished();
    void ReleaseWaiters();
    void StopWorker();

    Worker FWorker;
    // Lives on the GUI thread; the queued end-of-run call is delivered to it.
    std::unique_ptr<QObject> FEndContext;
    std::vector<QEventLoop *> FWaiters; // GUI-thread waits in progress
    std::mutex FEndMutex;               // with FEndCondition: waits off the GUI thread
    std::condition_variable FEndCondition;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
    bool FStarted = false;
    bool FDestroying = false;
};
