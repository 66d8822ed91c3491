#include "about.h"

#include <QCursor>
#include <QFile>
#include <QKeyEvent>
#include <QMouseEvent>

#include <algorithm>
#include <cstring>
#include <vector>

#include "Application.h"
#include "Registry.h"
#include "ShellUi.h"
#include "Text.h"

TAboutform *Aboutform = nullptr;

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

    GroupBox2 = new QGroupBox(this);
    Label4 = new QLabel(QStringLiteral("Pixavant"), GroupBox2);
    Label5 = new QLabel(QStringLiteral("Version 1.00"), GroupBox2);
    Label6 = new QLabel(tr("Camera RAW pictures beside your photos."), GroupBox2);

    GroupBox3 = new QGroupBox(QStringLiteral("Support/Contact Details "), GroupBox2);
    Label8 = new QLabel(QStringLiteral("https://") + QString::fromLatin1(WebAddress), GroupBox3);
    Label8->setStyleSheet(QStringLiteral("color: blue; text-decoration: underline;"));
    Label8->setCursor(Qt::PointingHandCursor);
    Label8->installEventFilter(this);

    GroupBox4 = new QGroupBox(QStringLiteral("This product is  lisenced to:"), GroupBox2);
    Label9 = new QLabel(GroupBox4);
    Label10 = new QLabel(GroupBox4);

    Label11 = new QLabel(tr("Pixavant never changes your pictures: RAW thumbnails"), GroupBox2);
    Label12 = new QLabel(tr("are written beside the RAW files as NAME.EXT.JPG"), GroupBox2);
    Label13 = new QLabel(tr("and can be deleted at any time."), GroupBox2);

    SpeedButton2 = new QPushButton(QStringLiteral("OK"), GroupBox2);
    SpeedButton2->setFlat(true);
    SpeedButton2->setCursor(Qt::PointingHandCursor);
    SpeedButton2->setToolTip(tr("Close (Escape, Return)"));
    connect(SpeedButton2, &QPushButton::clicked, this, [this] { SpeedButton2Click(); });

    setFont(DefaultGuiFont()); // lays the window out through FitTexts
    FitTexts();
}

namespace {

// A designed place (left, top) and the least size; the control is moved down by what the
// controls above it grew, and grows to its text.
struct TPlace {
    QWidget *Widget;
    int Left, Top, Width, Height;
};

// Places a column of controls of one parent in designed order. Returns the right and bottom
// edges the parent must enclose.
QSize PlaceColumn(const std::vector<TPlace> &places) {
    int shift = 0, right = 0, bottom = 0;
    for (const TPlace &p : places) {
        const QSize hint = p.Widget->sizeHint();
        const int top = std::max(p.Top + shift, bottom);
        shift = top - p.Top;
        const int w = std::max(p.Width, hint.width());
        const int h = std::max(p.Height, hint.height());
        p.Widget->setGeometry(p.Left, top, w, h);
        right = std::max(right, p.Left + w);
        bottom = top + h;
    }
    return {right, bottom};
}

} // namespace

void TAboutform::FitTexts() {
    const QFont bold = [this] {
        QFont f = font();
        if (f.pointSizeF() > 0)
            f.setPointSizeF(f.pointSizeF() * 13.0 / 11.0);
        else
            f.setPixelSize(f.pixelSize() * 13 / 11);
        f.setBold(true);
        return f;
    }();
    Label4->setFont(bold);
    Label5->setFont(bold);

    // Inside a frame, the first line starts below the frame's title.
    auto firstLine = [](QGroupBox *box) { return std::max(24, box->fontMetrics().height() + 4); };
    const QSize support = PlaceColumn({{Label8, 16, firstLine(GroupBox3), 0, 0}});
    const int ownerTop = firstLine(GroupBox4);
    const QSize owner =
        PlaceColumn({{Label9, 16, ownerTop, 305, 0}, {Label10, 16, ownerTop + 24, 305, 0}});
    const int frameWidth = std::max({329, support.width() + 16, owner.width() + 16});

    // The OK button stays where it was designed within the box, centred on what it grew.
    const QSize outer = PlaceColumn({
        {Label4, 16, 24, 0, 0},
        {Label5, 16, 40, 0, 0},
        {Label6, 16, 64, 0, 0},
        {GroupBox3, 8, 88, frameWidth, std::max(49, support.height() + 8)},
        {GroupBox4, 8, 144, frameWidth, std::max(73, owner.height() + 8)},
        {Label11, 8, 224, 0, 0},
        {Label12, 56, 240, 0, 0},
        {Label13, 56, 256, 0, 0},
    });
    const int boxWidth = std::max(353, outer.width() + 8);
    const int buttonLeft = 124 + (boxWidth - 353) / 2;
    const QSize button =
        PlaceColumn({{SpeedButton2, buttonLeft, std::max(281, outer.height() + 8), 81, 25}});
    GroupBox2->setGeometry(8, 8, boxWidth, std::max(321, button.height() + 15));
    setFixedSize(GroupBox2->geometry().right() + 1 + 16, GroupBox2->geometry().bottom() + 1 + 42);
}

void TAboutform::changeEvent(QEvent *event) {
    TForm::changeEvent(event);
    if (event->type() == QEvent::FontChange && SpeedButton2)
        FitTexts();
}

void TAboutform::showEvent(QShowEvent *event) {
    TForm::showEvent(event);
    FormShow();
    // Centred on the main window, as it is every time it opens; frames are centred, so a title
    // bar does not push the window off the middle.
    if (QWidget *main = Application ? Application->MainForm() : nullptr; main && main != this) {
        QRect frame = frameGeometry();
        frame.moveCenter(main->frameGeometry().center());
        move(frame.topLeft());
    }
}

void TAboutform::keyPressEvent(QKeyEvent *event) {
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        SpeedButton2Click();
        break;
    default:
        TForm::keyPressEvent(event);
    }
}

void TAboutform::FormShow() {
    Label9->setText(PathToText(ReadRegistryString("RegisteredOwner")));
    Label10->setText(PathToText(ReadRegistryString("RegisteredOrganization")));
    // A name may stand taller than the empty label it was placed as, in some fonts.
    FitTexts();
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
