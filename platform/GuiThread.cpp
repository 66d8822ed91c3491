#include "GuiThread.h"

#include <QCoreApplication>
#include <QThread>

bool IsGuiThread() {
    return qApp && QThread::currentThread() == qApp->thread();
}

void CallOnGuiThread(const std::function<void()> &f) {
    if (!qApp)
        return;
    if (IsGuiThread()) {
        f();
        return;
    }
    PostingBegins();
    QMetaObject::invokeMethod(
        qApp,
        [&f] {
            EventDelivered();
            f();
            EventPosted();
        },
        Qt::BlockingQueuedConnection);
    PostingEnds();
    EventDelivered();
}

void PostTo(QObject *context, std::function<void()> f) {
    PostingBegins();
    QMetaObject::invokeMethod(
        context,
        [f = std::move(f)] {
            EventDelivered();
            f();
        },
        Qt::QueuedConnection);
    PostingEnds();
}
