#include "Forms.h"
#include "Text.h"

#include <QCloseEvent>
#include <QFile>
#include <QFontDatabase>
#include <QVariant>

TForm::TForm(QWidget *parent)
    : QWidget(parent, Qt::Window), FHandle(this, [this](TMessage &m) { WndProc(m); }) {}

void TForm::SetCaption(const std::string &caption) {
    FCaption = caption;
    setWindowTitle(PathToText(caption));
}

void TForm::Show() {
    show();
    raise();
    activateWindow();
}

void TForm::closeEvent(QCloseEvent *event) {
    FormClose();
    event->accept();
}

void SetTag(QObject *control, int tag) {
    control->setProperty("Tag", tag);
}

int Tag(const QObject *control) {
    return control->property("Tag").toInt();
}

QFont DefaultGuiFont() {
    return QFontDatabase::systemFont(QFontDatabase::GeneralFont);
}
