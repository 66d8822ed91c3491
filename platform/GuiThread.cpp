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
    QMetaObject::invokeMethod(
        qApp, [&f] { f(); }, Qt::BlockingQueuedConnection);
}
