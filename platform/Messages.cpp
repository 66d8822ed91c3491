#include "Messages.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QWidget>

#include <atomic>
#include <mutex>
#include <unordered_map>

#include "Graphics.h"
#include "GuiThread.h"

namespace {

struct Entry {
    QWidget *widget;
    std::function<void(TMessage &)> wndProc;
};

// Registrations are made and removed on the GUI thread; the mutex lets workers ask whether a
// handle exists before posting.
std::mutex registryMutex;
std::unordered_map<HWND, Entry> &Registry() {
    static std::unordered_map<HWND, Entry> registry;
    return registry;
}
std::atomic<HWND> nextHandle{0x10000};

// Runs a message on the GUI thread. Looked up at delivery, so a window destroyed meanwhile
// simply misses it.
bool Dispatch(HWND window, TMessage &message) {
    std::function<void(TMessage &)> proc;
    {
        std::lock_guard lock(registryMutex);
        auto it = Registry().find(window);
        if (it == Registry().end())
            return false;
        proc = it->second.wndProc;
    }
    proc(message);
    return true;
}

const QEvent::Type MessageEventType = QEvent::Type(QEvent::registerEventType());

class MessageEvent : public QEvent {
public:
    MessageEvent(HWND window, UINT msg, WPARAM w, LPARAM l, TBitmap *bitmap)
        : QEvent(MessageEventType), FWindow(window), FMsg(msg), FWParam(w), FLParam(l),
          FBitmap(bitmap) {}
    ~MessageEvent() override { delete FBitmap; }

    void Deliver() {
        TMessage m{FMsg, FWParam, FLParam, 0};
        if (FBitmap) {
            if (!IsWindow(FWindow))
                return; // the destructor frees the bitmap
            m.LParam = reinterpret_cast<LPARAM>(FBitmap);
            FBitmap = nullptr; // the handler owns it now, on every path
        }
        Dispatch(FWindow, m);
    }

private:
    HWND FWindow;
    UINT FMsg;
    WPARAM FWParam;
    LPARAM FLParam;
    TBitmap *FBitmap;
};

// Receives posted messages on the GUI thread. It belongs to the application object, so
// undelivered events die (and free their bitmaps) with it.
class Dispatcher : public QObject {
public:
    explicit Dispatcher(QObject *parent) : QObject(parent) {}
    bool event(QEvent *e) override {
        if (e->type() == MessageEventType) {
            EventDelivered();
            static_cast<MessageEvent *>(e)->Deliver();
            return true;
        }
        return QObject::event(e);
    }
};

std::mutex dispatcherMutex;
QPointer<Dispatcher> dispatcher;

Dispatcher *TheDispatcher() {
    std::lock_guard lock(dispatcherMutex);
    if (!dispatcher && qApp) {
        auto *d = new Dispatcher(nullptr);
        d->moveToThread(qApp->thread());
        d->setParent(qApp);
        dispatcher = d;
    }
    return dispatcher.data();
}

BOOL Post(HWND window, UINT msg, WPARAM w, LPARAM l, TBitmap *bitmap) {
    Dispatcher *d = IsWindow(window) ? TheDispatcher() : nullptr;
    if (!d) {
        delete bitmap;
        return 0;
    }
    PostingBegins();
    QCoreApplication::postEvent(d, new MessageEvent(window, msg, w, l, bitmap));
    PostingEnds();
    return 1;
}

} // namespace

TWindowHandle::TWindowHandle(QWidget *widget, std::function<void(TMessage &)> wndProc)
    : FHandle(nextHandle++) {
    TheDispatcher(); // created on the GUI thread, before any worker needs it
    std::lock_guard lock(registryMutex);
    Registry().emplace(FHandle, Entry{widget, std::move(wndProc)});
}

TWindowHandle::~TWindowHandle() {
    std::lock_guard lock(registryMutex);
    Registry().erase(FHandle);
}

bool IsWindow(HWND window) {
    std::lock_guard lock(registryMutex);
    return Registry().count(window) != 0;
}

QWidget *WindowFromHandle(HWND window) {
    std::lock_guard lock(registryMutex);
    auto it = Registry().find(window);
    return it == Registry().end() ? nullptr : it->second.widget;
}

BOOL PostMessageA(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    return Post(window, msg, wParam, lParam, nullptr);
}

BOOL PostBitmapMessage(HWND window, UINT msg, WPARAM wParam, TBitmap *bitmap) {
    return Post(window, msg, wParam, 0, bitmap);
}

LRESULT SendMessageA(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    TMessage m{msg, wParam, lParam, 0};
    if (IsGuiThread()) {
        Dispatch(window, m);
        return m.Result;
    }
    if (!TheDispatcher() || !IsWindow(window))
        return 0;
    CallOnGuiThread([&] { Dispatch(window, m); });
    return m.Result;
}
