#include "Thread.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <set>

#include "Application.h"
#include "GuiThread.h"

namespace {
std::mutex liveMutex;
std::set<TThread *> &LiveThreads() {
    static std::set<TThread *> live;
    return live;
}

// Runs the GUI thread's events, user input excepted, until quit or the time-out (none when
// negative).
void RunWaitLoop(QEventLoop &loop, int timeoutMs) {
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (timeoutMs >= 0)
        timer.start(timeoutMs);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}
} // namespace

TThread::TThread(bool createSuspended) : FWorker(this) {
    if (qApp) {
        FEndContext = std::make_unique<QObject>();
        if (FEndContext->thread() != qApp->thread())
            FEndContext->moveToThread(qApp->thread());
    }
    {
        std::lock_guard lock(liveMutex);
        LiveThreads().insert(this);
    }
    if (!createSuspended)
        Resume();
}

TThread::~TThread() {
    FDestroying = true;
    FTerminated = true;
    StopWorker();
    // Drops an end-of-run call still queued: it would reach a deleted object.
    FEndContext.reset();
    ReleaseWaiters();
    std::lock_guard lock(liveMutex);
    LiveThreads().erase(this);
}

void TThread::StopWorker() {
    if (!FWorker.isRunning()) {
        FWorker.wait();
        return;
    }
    if (IsGuiThread()) {
        // The worker may be blocked on a call to this thread: serve it while waiting.
        QEventLoop loop;
        QObject::connect(&FWorker, &QThread::finished, &loop, &QEventLoop::quit,
                         Qt::QueuedConnection);
        // finished may have been emitted before the connection existed.
        if (!FWorker.isFinished())
            loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    FWorker.wait();
}

void TThread::SetOnTerminate(QObject *receiver, std::function<void(TThread *)> handler) {
    OnTerminate = [guard = QPointer<QObject>(receiver),
                   handler = std::move(handler)](TThread *thread) {
        if (guard)
            handler(thread);
    };
}

void TThread::Resume() {
    if (!FStarted) {
        FStarted = true;
        FWorker.start();
    }
}

void TThread::Worker::run() {
    FOwner->Run();
}

void TThread::Run() {
    // A thread stopped before it began runs nothing; its end is still reported.
    if (!FTerminated) {
        try {
            Execute();
        } catch (...) {
            // Execute handles what it expects; anything else still ends the run and is shown.
            FTerminated = true;
            HandleCurrentException();
        }
    }
    if (FEndContext)
        PostTo(FEndContext.get(), [this] { DoTerminate(); });
    else
        MarkFinished();
}

void TThread::MarkFinished() {
    {
        std::lock_guard lock(FEndMutex);
        FFinished = true;
    }
    FEndCondition.notify_all();
}

void TThread::ReleaseWaiters() {
    for (QEventLoop *loop : FWaiters)
        loop->quit();
    FWaiters.clear();
}

void TThread::DoTerminate() {
    if (FDestroying)
        return;     // delivered while the destructor serves the worker's calls
    FWorker.wait(); // run() is returning; the join is immediate
    MarkFinished();
    QPointer<QObject> alive(FEndContext.get());
    if (OnTerminate) {
        try {
            OnTerminate(this);
        } catch (...) {
            HandleCurrentException();
        }
    }
    if (!alive)
        return; // OnTerminate deleted the thread
    ReleaseWaiters();
    if (FreeOnTerminate)
        delete this;
}

bool TThread::WaitFor(int timeoutMs) {
    if (FFinished)
        return true;
    if (!FStarted)
        return false; // nothing will end it
    if (!FEndContext || !IsGuiThread()) {
        std::unique_lock lock(FEndMutex);
        const auto ended = [this] { return FFinished.load(); };
        if (timeoutMs < 0) {
            FEndCondition.wait(lock, ended);
            return true;
        }
        return FEndCondition.wait_for(lock, std::chrono::milliseconds(timeoutMs), ended);
    }
    QEventLoop loop;
    QPointer<QObject> alive(FEndContext.get());
    FWaiters.push_back(&loop);
    RunWaitLoop(loop, timeoutMs);
    if (!alive)
        return true; // ended and deleted (FreeOnTerminate) or deleted by its owner
    FWaiters.erase(std::remove(FWaiters.begin(), FWaiters.end(), &loop), FWaiters.end());
    return FFinished;
}

void TThread::WaitForAll(int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        TThread *running = nullptr;
        {
            std::lock_guard lock(liveMutex);
            for (TThread *t : LiveThreads()) {
                if (t->FStarted && !t->Finished()) {
                    t->Terminate();
                    if (!running)
                        running = t;
                }
            }
        }
        if (!running || !running->WaitFor(int(std::max<qint64>(deadline.remainingTime(), 0))))
            return;
    }
}
