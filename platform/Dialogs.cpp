#include "Dialogs.h"

#include <QFile>
#include <QMessageBox>

#include <cstdio>
#include <mutex>

#include "Application.h"
#include "Messages.h"
#include "Text.h"

namespace {
std::mutex hookMutex;
MessageBoxHook boxHook;
std::function<void(const std::string &)> debugHook;
} // namespace

void SetMessageBoxHook(MessageBoxHook hook) {
    std::lock_guard lock(hookMutex);
    boxHook = std::move(hook);
}

void SetDebugOutputHook(std::function<void(const std::string &)> hook) {
    std::lock_guard lock(hookMutex);
    debugHook = std::move(hook);
}

int MessageBoxA(HWND owner, const std::string &text, const std::string &caption, UINT type) {
    {
        std::unique_lock lock(hookMutex);
        if (boxHook) {
            auto hook = boxHook;
            lock.unlock();
            return hook(owner, text, caption, type);
        }
    }
    int result = IDOK;
    CallOnGuiThread([&] {
        QMessageBox box(WindowFromHandle(owner));
        box.setWindowTitle(PathToText(caption));
        box.setText(PathToText(text));
        switch (type & 0xF0) {
        case MB_ICONERROR:
            box.setIcon(QMessageBox::Critical);
            break;
        case MB_ICONQUESTION:
            box.setIcon(QMessageBox::Question);
            break;
        case MB_ICONWARNING:
            box.setIcon(QMessageBox::Warning);
            break;
        case MB_ICONINFORMATION:
            box.setIcon(QMessageBox::Information);
            break;
        default:
            break;
        }
        switch (type & 0x0F) {
        case MB_OKCANCEL:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            break;
        case MB_YESNO:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            break;
        default:
            box.setStandardButtons(QMessageBox::Ok);
        }
        switch (box.exec()) {
        case QMessageBox::Cancel:
            result = IDCANCEL;
            break;
        case QMessageBox::Yes:
            result = IDYES;
            break;
        case QMessageBox::No:
            result = IDNO;
            break;
        default:
            result = IDOK;
        }
    });
    return result;
}

void OutputDebugStringA(const std::string &text) {
    {
        std::unique_lock lock(hookMutex);
        if (debugHook) {
            auto hook = debugHook;
            lock.unlock();
            hook(text);
            return;
        }
    }
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}
