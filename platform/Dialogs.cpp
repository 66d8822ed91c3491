#include "Dialogs.h"

#include <QFile>
#include <QMessageBox>

#include <cstdio>

#include "GuiThread.h"
#include "Messages.h"
#include "Services.h"
#include "Text.h"

int MessageBoxA(HWND owner, const std::string &text, const std::string &caption, UINT type) {
    if (const auto box = CurrentServices().MessageBox)
        return box(owner, text, caption, type);
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
    if (const auto debug = CurrentServices().DebugOutput) {
        debug(text);
        return;
    }
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}
