// Window messages across threads, the default exception handler, and the thread base.
#include <gtest/gtest.h>

#include <QThread>
#include <QWidget>

#include <atomic>
#include <functional>
#include <future>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

#include "Application.h"
#include "Dialogs.h"
#include "Exceptions.h"
#include "Graphics.h"
#include "GuiThread.h"
#include "Messages.h"
#include "TestUtil.h"
#include "Thread.h"

namespace {

struct Recorder {
    QWidget widget;
    std::vector<TMessage> received;
    std::vector<bool> onGuiThread;
    TWindowHandle handle{&widget, [this](TMessage &m) {
                             onGuiThread.push_back(IsGuiThread());
                             received.push_back(m);
                             if (m.Msg == WM_USER + 9)
                                 throw Exception("boom");
                             if (m.Msg == WM_USER + 8)
                                 m.Result = LRESULT(m.WParam * 2);
                             if (m.Msg == WM_USER + 7)
                                 delete reinterpret_cast<TBitmap *>(m.LParam);
                         }};
};

std::atomic<int> liveBitmaps{0};
struct CountedBitmap : TBitmap {
    CountedBitmap() : TBitmap(2, 2) { ++liveBitmaps; }
    ~CountedBitmap() override { --liveBitmaps; }
};

struct BoxRecorder {
    std::vector<std::string> texts;
    std::unique_ptr<TServicesScope> scope = testutil::ChangeServices([this](TPlatformServices &s) {
        s.MessageBox = [this](HWND, const std::string &text, const std::string &, UINT) {
            texts.push_back(text);
            return IDOK;
        };
    });
};

} // namespace

TEST(Messages, PostedFromAnotherThreadArriveInOrderAtTheRightWindow) {
    Recorder a, b;
    constexpr int n = 500;
    std::thread worker([&] {
        for (int i = 0; i < n; ++i)
            PostMessageA(i % 2 ? b.handle.Handle() : a.handle.Handle(), WM_USER + 1, WPARAM(i), 0);
    });
    worker.join();
    ASSERT_TRUE(testutil::WaitFor([&] { return a.received.size() + b.received.size() == n; }));
    for (std::size_t i = 0; i < a.received.size(); ++i)
        EXPECT_EQ(a.received[i].WParam, 2 * i);
    for (std::size_t i = 0; i < b.received.size(); ++i)
        EXPECT_EQ(b.received[i].WParam, 2 * i + 1);
    for (bool gui : a.onGuiThread)
        EXPECT_TRUE(gui);
}

TEST(Messages, SendFromWorkerRunsOnGuiThreadAndReturnsResult) {
    Recorder r;
    std::atomic<LRESULT> result{0};
    std::thread worker([&] { result = SendMessageA(r.handle.Handle(), WM_USER + 8, 21, 0); });
    ASSERT_TRUE(testutil::WaitFor([&] { return result.load() != 0; }));
    worker.join();
    EXPECT_EQ(result.load(), 42);
    ASSERT_EQ(r.onGuiThread.size(), 1u);
    EXPECT_TRUE(r.onGuiThread[0]);
}

TEST(Messages, BitmapForAGoneWindowIsFreed) {
    const int before = liveBitmaps;
    {
        auto r = std::make_unique<Recorder>();
        const HWND h = r->handle.Handle();
        EXPECT_TRUE(PostBitmapMessage(h, WM_USER + 7, 0, new CountedBitmap));
        r.reset(); // gone before delivery
        EXPECT_FALSE(PostBitmapMessage(h, WM_USER + 7, 0, new CountedBitmap));
        EXPECT_FALSE(PostMessageA(h, WM_USER + 1, 0, 0));
    }
    testutil::WaitFor([&] { return liveBitmaps == before; }, std::chrono::seconds(2));
    EXPECT_EQ(liveBitmaps, before);

    Recorder alive;
    PostBitmapMessage(alive.handle.Handle(), WM_USER + 7, 0, new CountedBitmap);
    ASSERT_TRUE(testutil::WaitFor([&] { return alive.received.size() == 1; }));
    EXPECT_EQ(liveBitmaps, before); // the handler freed it
}

TEST(Messages, ExceptionInHandlerIsShownAndWindowKeepsWorking) {
    BoxRecorder boxes;
    Recorder r;
    PostMessageA(r.handle.Handle(), WM_USER + 9, 0, 0);
    PostMessageA(r.handle.Handle(), WM_USER + 1, 5, 0);
    ASSERT_TRUE(testutil::WaitFor([&] { return r.received.size() == 2; }));
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_EQ(boxes.texts[0], "boom");
    EXPECT_EQ(r.received[1].WParam, 5u);
}

namespace {

class ProbeThread : public TThread {
public:
    std::atomic<bool> executed{false};
    std::atomic<bool> terminatedOnGui{false};
    bool waitForStop = false;
    std::promise<void> returning; // set as the last step of Execute
    std::atomic<QThread *> runOn{nullptr};
    bool *destroyed = nullptr;

    ~ProbeThread() override {
        if (destroyed)
            *destroyed = true;
    }

protected:
    void Execute() override {
        executed = true;
        runOn = QThread::currentThread();
        while (waitForStop && !Terminated())
            QThread::msleep(1);
        returning.set_value();
    }
};

} // namespace

TEST(Thread, OnTerminateRunsOnGuiThreadAfterExecute) {
    ProbeThread t;
    bool ended = false;
    t.OnTerminate = [&](TThread *) {
        ended = true;
        t.terminatedOnGui = IsGuiThread() && t.executed;
    };
    t.Resume();
    ASSERT_TRUE(t.WaitFor());
    EXPECT_TRUE(ended);
    EXPECT_TRUE(t.terminatedOnGui);
}

TEST(Thread, StoppedBeforeStartRunsNothingButStillEnds) {
    ProbeThread t;
    bool ended = false;
    t.OnTerminate = [&](TThread *) { ended = true; };
    t.Terminate();
    t.Resume();
    ASSERT_TRUE(t.WaitFor());
    EXPECT_TRUE(ended);
    EXPECT_FALSE(t.executed);
}

TEST(Thread, FreeOnTerminateDeletesAfterOnTerminate) {
    auto *t = new ProbeThread;
    t->waitForStop = true;
    t->FreeOnTerminate = true;
    bool destroyed = false;
    t->destroyed = &destroyed;
    bool ended = false, aliveAtEnd = false;
    t->OnTerminate = [&](TThread *) {
        ended = true;
        aliveAtEnd = !destroyed;
    };
    t->Resume();
    ASSERT_TRUE(testutil::WaitFor([&] { return t->executed.load(); }));
    t->Terminate();
    ASSERT_TRUE(testutil::WaitFor([&] { return ended; }));
    EXPECT_TRUE(aliveAtEnd);
    EXPECT_TRUE(destroyed);
}

TEST(Thread, DeletedBeforeItsEndOfRunIsDeliveredDropsIt) {
    // Execute has returned, the end-of-run step is queued for the GUI thread, and the owner
    // deletes the thread before the event loop gets to it.
    auto *t = new ProbeThread;
    bool ended = false;
    t->OnTerminate = [&](TThread *) { ended = true; };
    std::future<void> returned = t->returning.get_future();
    t->Resume();
    returned.wait();
    t->runOn.load()->wait(); // the worker has queued the end-of-run step and ended
    delete t;
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    EXPECT_FALSE(ended);
}

namespace {

class ThrowingThread : public TThread {
public:
    explicit ThrowingThread(std::function<void()> body) : FBody(std::move(body)) {}
    ~ThrowingThread() override {
        if (destroyed)
            *destroyed = true;
    }
    bool *destroyed = nullptr;

protected:
    void Execute() override { FBody(); }

private:
    std::function<void()> FBody;
};

} // namespace

TEST(Thread, AnyExceptionLeavingExecuteIsShownAndEndsTheRun) {
    struct Case {
        const char *name;
        std::function<void()> body;
        const char *shown;
    };
    const std::vector<Case> cases = {
        {"program exception", [] { throw EThumbnailExtractorThreadError("no list"); }, "no list"},
        {"standard exception", [] { throw std::runtime_error("disk on fire"); }, "disk on fire"},
        {"out of memory", [] { throw std::bad_alloc(); }, "Out of memory"},
        {"not an exception class", [] { throw 7; }, "Unknown error"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        BoxRecorder boxes;
        ThrowingThread t(c.body);
        bool ended = false;
        t.OnTerminate = [&](TThread *) { ended = true; };
        t.Resume();
        ASSERT_TRUE(t.WaitFor());
        EXPECT_TRUE(ended);
        EXPECT_TRUE(t.Terminated());
        EXPECT_EQ(boxes.texts, std::vector<std::string>{c.shown});
    }
}

TEST(Thread, OnTerminateBoundToAReceiverIsDroppedWithIt) {
    for (const bool receiverLives : {true, false}) {
        SCOPED_TRACE(receiverLives ? "receiver lives" : "receiver gone");
        auto receiver = std::make_unique<QObject>();
        ProbeThread t;
        bool called = false;
        t.SetOnTerminate(receiver.get(), [&](TThread *) { called = true; });
        if (!receiverLives)
            receiver.reset();
        t.Resume();
        ASSERT_TRUE(t.WaitFor());
        EXPECT_EQ(called, receiverLives);
    }
}

TEST(Thread, WaitForServesAWorkerBlockedOnTheGuiThread) {
    // The worker waits for a call on the GUI thread, as the extractor does for list reads and
    // message boxes; a FreeOnTerminate thread is gone when the wait returns.
    bool served = false, destroyed = false, ended = false;
    auto *t = new ThrowingThread([&] { CallOnGuiThread([&] { served = true; }); });
    t->FreeOnTerminate = true;
    t->destroyed = &destroyed;
    t->OnTerminate = [&](TThread *) { ended = true; };
    t->Resume();
    EXPECT_TRUE(t->WaitFor());
    EXPECT_TRUE(served);
    EXPECT_TRUE(ended);
    EXPECT_TRUE(destroyed);
}
