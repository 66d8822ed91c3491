#include "about.h"

#include <QCursor>
#include <QFile>
#include <QMouseEvent>

#include <cstring>

#include "Application.h"
#include "Registry.h"
#include "ShellUi.h"

TAboutform *Aboutform = nullptr;

namespace {

QLabel *MakeLabel(QWidget *parent, const QString &caption, int left, int top) {
    auto *label = new QLabel(caption, parent);
    label->move(left, top);
    label->adjustSize();
    return label;
}

QFont BoldFont(const QWidget *w) {
    QFont f = w->font();
    f.setPointSizeF(f.pointSizeF() * 13.0 / 11.0);
    f.setBold(true);
    return f;
}

} // namespace

std::string ReadRegistryString(const char *valueName) {
    HKEY key = 0;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", &key) !=
        ERROR_SUCCESS)
        return std::string();
    unsigned char buffer[256];
    DWORD size = sizeof buffer;
    DWORD type = 0;
    std::string text;
    if (RegQueryValueExA(key, valueName, nullptr, &type, buffer, &size) == ERROR_SUCCESS &&
        size > 0)
        text.assign(reinterpret_cast<const char *>(buffer), size - 1);
    RegCloseKey(key);
    return text;
}

TAboutform::TAboutform(QWidget *parent) : TForm(parent) {
    if (!Aboutform)
        Aboutform = this;
    SetCaption("About");
    setFont(DefaultGuiFont());
    setFixedSize(377, 371);

    GroupBox2 = new QGroupBox(this);
    GroupBox2->setGeometry(8, 8, 353, 321);
    Label4 = MakeLabel(GroupBox2, QStringLiteral("Pixavant"), 16, 24);
    Label4->setFont(BoldFont(this));
    Label4->adjustSize();
    Label5 = MakeLabel(GroupBox2, QStringLiteral("Version 1.00"), 16, 40);
    Label5->setFont(BoldFont(this));
    Label5->adjustSize();
    Label6 = MakeLabel(GroupBox2, tr("Camera RAW pictures beside your photos."), 16, 64);

    GroupBox3 = new QGroupBox(QStringLiteral("Support/Contact Details "), GroupBox2);
    GroupBox3->setGeometry(8, 88, 329, 49);
    Label8 =
        MakeLabel(GroupBox3, QStringLiteral("https://") + QString::fromLatin1(WebAddress), 16, 24);
    Label8->setStyleSheet(QStringLiteral("color: blue; text-decoration: underline;"));
    Label8->setCursor(Qt::PointingHandCursor);
    Label8->installEventFilter(this);

    GroupBox4 = new QGroupBox(QStringLiteral("This product is  lisenced to:"), GroupBox2);
    GroupBox4->setGeometry(8, 144, 329, 73);
    Label9 = MakeLabel(GroupBox4, QString(), 16, 24);
    Label10 = MakeLabel(GroupBox4, QString(), 16, 48);
    Label9->setFixedWidth(305);
    Label10->setFixedWidth(305);

    Label11 =
        MakeLabel(GroupBox2, tr("Pixavant never changes your pictures: RAW thumbnails"), 8, 224);
    Label12 = MakeLabel(GroupBox2, tr("are written beside the RAW files as NAME.CR2.JPG"), 56, 240);
    Label13 = MakeLabel(GroupBox2, tr("and can be deleted at any time."), 56, 256);

    SpeedButton2 = new QPushButton(QStringLiteral("OK"), GroupBox2);
    SpeedButton2->setGeometry(124, 281, 81, 25);
    SpeedButton2->setFlat(true);
    SpeedButton2->setCursor(Qt::PointingHandCursor);
    connect(SpeedButton2, &QPushButton::clicked, this, [this] { SpeedButton2Click(); });
}

void TAboutform::showEvent(QShowEvent *event) {
    TForm::showEvent(event);
    // Centred on the main window, as it is every time it opens.
    if (QWidget *main = Application ? Application->MainForm() : nullptr; main && main != this)
        move(main->geometry().center() - rect().center());
    FormShow();
}

void TAboutform::FormShow() {
    Label9->setText(
        QFile::decodeName(QByteArray::fromStdString(ReadRegistryString("RegisteredOwner"))));
    Label10->setText(
        QFile::decodeName(QByteArray::fromStdString(ReadRegistryString("RegisteredOrganization"))));
}

bool TAboutform::eventFilter(QObject *watched, QEvent *event) {
    if (watched == Label8 && event->type() == QEvent::MouseButtonRelease) {
        Label8Click();
        return true;
    }
    return TForm::eventFilter(watched, event);
}

void TAboutform::Label8Click() {
    char buffer[80] = {};
    std::strncpy(buffer, WebAddress, sizeof buffer - 1);
    ShellExecuteA(0, nullptr, buffer, nullptr, nullptr, SW_SHOWNORMAL);
}

void TAboutform::SpeedButton2Click() {
    Close();
}
