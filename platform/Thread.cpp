#include "Thread.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <mutex>
#include <set>

#include "Application.h"

namespace {
std::mutex liveMutex;
std::set<TThread *> &LiveThreads() {
    static std::set<TThread *> live;
    return live;
}
} // namespace

TThread::TThread(bool createSuspended) : FWorker(this) {
    {
        std::lock_guard lock(liveMutex);
        LiveThreads().insert(this);
    }
    if (!createSuspended)
        Resume();
}

TThread::~TThread() {
    if (FWorker.isRunning())
        FWorker.wait();
    std::lock_guard lock(liveMutex);
    LiveThreads().erase(this);
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
    if (qApp)
        RunOnGuiThread([this] { DoTerminate(); });
    else
        FFinished = true;
}

void TThread::DoTerminate() {
    FWorker.wait(); // run() is returning; the join is immediate
    FFinished = true;
    if (OnTerminate) {
        try {
            OnTerminate(this);
        } catch (...) {
            HandleCurrentException();
        }
    }
    if (FreeOnTerminate)
        delete this;
}

bool TThread::WaitFor(int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!FFinished) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        FWorker.wait(5);
    }
    return true;
}

void TThread::WaitForAll(int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        {
            std::lock_guard lock(liveMutex);
            bool running = false;
            for (TThread *t : LiveThreads()) {
                if (!t->Finished()) {
                    t->Terminate();
                    running = true;
                }
            }
            if (!running)
                return;
        }
        if (deadline.hasExpired())
            return;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
}
