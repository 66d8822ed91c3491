// The thumbnail creator window.
#include "ThumbsMain.h"

#include <QColorDialog>
#include <QFrame>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStatusBar>
#include <QToolButton>

#include <sys/stat.h>
#include <unistd.h>

#include "Application.h"
#include "Exceptions.h"
#include "FileSystem.h"
#include "JpegConv.h"
#include "Messages.h"
#include "ShellUi.h"
#include "TempFolder.h"
#include "Text.h"

TthumbForm1 *thumbForm1 = nullptr;

namespace {

// Where the links of the credit box lead.
constexpr char MailLink[] = "mailto:?subject=Pixavant%20thumbnails";
constexpr char WebLink[] = "https://libjpeg-turbo.org/";

// True for a preview file in the scan's private temporary folder: ours to remove.
bool IsScanPreview(const std::string &path) {
    try {
        return ExtractFilePath(path) == ExtractFilePath(TempPreviewPath(TempPreview::Scan));
    } catch (const std::exception &) {
        return false;
    }
}

int PreselectFolder(HWND dialog, UINT message, LPARAM, LPARAM folder) {
    if (message == BFFM_INITIALIZED && folder)
        SendMessageA(dialog, BFFM_SETSELECTIONA, 1, folder);
    return 0;
}

} // namespace

// ---------------------------------------------------------------------------------------------

TUpDown::TUpDown(QLineEdit *associate, int min, int max, int position, QWidget *parent)
    : QWidget(parent), FAssociate(associate), FMin(min), FMax(max), FPosition(position) {
    auto *up = new QToolButton(this);
    auto *down = new QToolButton(this);
    up->setArrowType(Qt::UpArrow);
    down->setArrowType(Qt::DownArrow);
    up->setAutoRepeat(true);
    down->setAutoRepeat(true);
    up->setFocusPolicy(Qt::NoFocus);
    down->setFocusPolicy(Qt::NoFocus);
    connect(up, &QToolButton::clicked, this, [this] { SetPosition(Position() + 1); });
    connect(down, &QToolButton::clicked, this, [this] { SetPosition(Position() - 1); });
    connect(FAssociate, &QLineEdit::editingFinished, this, [this] { SetPosition(Position()); });
    SetPosition(position);
}

void TUpDown::resizeEvent(QResizeEvent *) {
    // The two arrows share the control's height.
    const auto buttons = findChildren<QToolButton *>(Qt::FindDirectChildrenOnly);
    if (buttons.size() == 2) {
        buttons[0]->setGeometry(0, 0, width(), height() / 2);
        buttons[1]->setGeometry(0, height() / 2, width(), height() - height() / 2);
    }
}

int TUpDown::Position() const {
    bool ok = false;
    const int value = FAssociate->text().trimmed().toInt(&ok);
    if (ok && value >= FMin && value <= FMax)
        FPosition = value;
    return FPosition;
}

void TUpDown::SetPosition(int position) {
    FPosition = std::clamp(position, FMin, FMax);
    FAssociate->setText(QString::number(FPosition));
}

TShape::TShape(QWidget *parent) : QWidget(parent) {}

void TShape::SetBrushColor(TColor color) {
    FBrushColor = color;
    update();
}

void TShape::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setPen(Qt::black);
    painter.setBrush(ToQColor(FBrushColor));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

TLinkLabel::TLinkLabel(const QString &text, QWidget *parent) : QLabel(text, parent) {
    QFont f = font();
    f.setUnderline(true);
    setFont(f);
    QPalette p = palette();
    p.setColor(QPalette::WindowText, Qt::blue);
    setPalette(p);
    setCursor(Qt::PointingHandCursor);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent *event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
    QLabel::mouseReleaseEvent(event);
}

// ---------------------------------------------------------------------------------------------

TthumbForm1::TthumbForm1(QWidget *parent) : TForm(parent) {
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(519, 359);
    setFont(DefaultGuiFont());
    SetCaption("Tumbnail Creator");

    const auto frame = [this](int x, int y, int w, int h) {
        auto *f = new QFrame(this);
        f->setFrameStyle(QFrame::Box | QFrame::Sunken);
        f->setGeometry(x, y, w, h);
        return f;
    };
    const auto label = [this](const char *text, int x, int y) {
        auto *l = new QLabel(QString::fromUtf8(text), this);
        l->move(x, y);
        l->adjustSize();
        return l;
    };

    Bevel1 = frame(8, 8, 249, 323);
    Label4 = label("&Source Files", 24, 16);
    FilesListBox = new QListWidget(this);
    FilesListBox->setGeometry(16, 34, 233, 257);
    Label4->setBuddy(FilesListBox);
    LoadButton = new QPushButton(tr("&Load"), this);
    LoadButton->setGeometry(16, 299, 233, 25);

    Bevel2 = frame(263, 8, 249, 233);
    Label5 = label("Thumbnails", 279, 16);
    Label1 = label("&Width:", 271, 38);
    WidthEdit = new QLineEdit(this);
    WidthEdit->setGeometry(359, 34, 132, 21);
    WidthUpDown = new TUpDown(WidthEdit, 1, 32767, 150, this);
    WidthUpDown->setGeometry(491, 34, 12, 21);
    Label1->setBuddy(WidthEdit);
    Label2 = label("&Height:", 271, 71);
    HeightEdit = new QLineEdit(this);
    HeightEdit->setGeometry(359, 67, 132, 21);
    HeightUpDown = new TUpDown(HeightEdit, 1, 32767, 100, this);
    HeightUpDown->setGeometry(491, 67, 12, 21);
    Label2->setBuddy(HeightEdit);
    Label3 = label("&Fill Color:", 271, 103);
    Shape1 = new TShape(this);
    Shape1->setGeometry(359, 99, 120, 21);
    SpeedButton1 = new QToolButton(this);
    SpeedButton1->setText("...");
    SpeedButton1->setToolTip(tr("Browse"));
    SpeedButton1->setGeometry(480, 98, 23, 22);
    SpeedButton1->setFocusPolicy(Qt::NoFocus);
    Label6 = label("&Prefix:", 271, 136);
    PrefixEdit = new QLineEdit(this);
    PrefixEdit->setGeometry(359, 132, 146, 21);
    Label6->setBuddy(PrefixEdit);
    Label7 = label("&Output Directory:", 271, 168);
    OutDirEdit = new QLineEdit(this);
    OutDirEdit->setGeometry(359, 164, 118, 21);
    Label7->setBuddy(OutDirEdit);
    SpeedButton2 = new QToolButton(this);
    SpeedButton2->setText("...");
    SpeedButton2->setToolTip(tr("Browse"));
    SpeedButton2->setGeometry(480, 163, 23, 22);
    SpeedButton2->setFocusPolicy(Qt::NoFocus);
    CreateButton = new QPushButton(tr("&Create"), this);
    CreateButton->setGeometry(270, 203, 233, 25);

    Bevel3 = frame(264, 248, 249, 81);
    Label8 = label("Pixavant thumbnail creator.", 272, 254);
    Label11 = label("JPEG coding by libjpeg-turbo.", 272, 272);
    Label9 = new TLinkLabel(tr("Send a comment"), this);
    Label9->move(272, 290);
    Label9->adjustSize();
    Label10 = new TLinkLabel(tr("libjpeg-turbo.org"), this);
    Label10->move(272, 308);
    Label10->adjustSize();

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setSizeGripEnabled(false);
    StatusBar1->setGeometry(0, 359 - 19, 519, 19);
    ColorDialog = new QColorDialog(this);

    setTabOrder(FilesListBox, LoadButton);
    setTabOrder(LoadButton, WidthEdit);
    setTabOrder(WidthEdit, HeightEdit);
    setTabOrder(HeightEdit, PrefixEdit);
    setTabOrder(PrefixEdit, OutDirEdit);
    setTabOrder(OutDirEdit, CreateButton);

    // Handlers run through the application's default exception handler when clicked.
    connect(LoadButton, &QPushButton::clicked, this, [this] { LoadButtonClick(); });
    connect(CreateButton, &QPushButton::clicked, this, [this] { CreateButtonClick(); });
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
    connect(SpeedButton2, &QToolButton::clicked, this, [this] { SpeedButton2Click(); });
    connect(Label9, &TLinkLabel::clicked, this, [this] { Label9Click(); });
    connect(Label10, &TLinkLabel::clicked, this, [this] { Label10Click(); });
}

TThumbSettings TthumbForm1::Settings() const {
    return {WidthUpDown->Position(), HeightUpDown->Position(), Shape1->BrushColor(),
            TextToPath(PrefixEdit->text())};
}

void TthumbForm1::SetRawFile(const std::string &folder, const std::string &name) {
    FRawFolder = folder;
    FRawFile = name;
}

void TthumbForm1::LoadButtonClick() {
    const std::string preview = TempPreviewPath(TempPreview::Scan);
    // One entry is enough: the same preview file is rewritten for every RAW file, and listing
    // it again would convert it again, once more for every RAW file of the run.
    for (int i = 0; i < FilesListBox->count(); ++i)
        if (FileEntry(i) == preview)
            return;
    auto *item = new QListWidgetItem(PathToText(preview));
    item->setData(Qt::UserRole, QByteArray::fromStdString(preview));
    FilesListBox->addItem(item);
}

void TthumbForm1::CreateButtonClick() {
    const int count = FilesListBox->count();
    // The list can shrink while pending messages run.
    for (int i = 0; i < count && i < FilesListBox->count(); ++i) {
        const std::string source = FileEntry(i);
        if (ExtractFileName(FRawFile).empty())
            throw Exception("No RAW file to name the thumbnail of \"" + source + "\" after");
        // The scan's temporary preview is used up once its thumbnail exists (or cannot be
        // made): removed, it holds no memory in a folder that may live there.
        struct TUsedUp {
            const std::string &path;
            ~TUsedUp() {
                if (IsScanPreview(path))
                    ::unlink(path.c_str());
            }
        } usedUp{source};
        const std::string raw = IncludeTrailingPathDelimiter(FRawFolder) + FRawFile;
        MakeRawThumbnail(source, FRawFolder, raw, Settings(), RawFileIdentity(raw));
        TApplication::ProcessMessages();
        StatusBar1->showMessage(
            QStringLiteral("Done %1 of %2").arg(i + 1).arg(FilesListBox->count()));
    }
}

void TthumbForm1::SpeedButton1Click() {
    ColorDialog->setCurrentColor(ToQColor(Shape1->BrushColor()));
    if (ColorDialog->exec() == QDialog::Accepted)
        Shape1->SetBrushColor(FromQColor(ColorDialog->selectedColor()));
}

void TthumbForm1::SpeedButton2Click() {
    const std::string current = TextToPath(OutDirEdit->text());
    struct stat st {};
    const bool exists =
        !current.empty() && ::stat(current.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    char displayName[MAX_PATH];
    BROWSEINFOA info{};
    info.hwndOwner = Handle();
    info.pszDisplayName = displayName;
    info.lpszTitle = "Select Output Directory";
    info.ulFlags = BIF_NEWDIALOGSTYLE | BIF_RETURNONLYFSDIRS | BIF_NONEWFOLDERBUTTON;
    if (exists) {
        info.lpfn = PreselectFolder;
        info.lParam = reinterpret_cast<LPARAM>(current.c_str());
    }
    LPITEMIDLIST chosen = SHBrowseForFolderA(&info);
    if (!chosen)
        return;
    // Any path the file system takes, not only the 260 bytes of a Windows path buffer.
    const std::string path = PathFromIDList(chosen);
    if (!path.empty())
        OutDirEdit->setText(PathToText(path));
    ComPtr<IMalloc> allocator;
    if (SUCCEEDED(SHGetMalloc(allocator.Put())))
        allocator->Free(chosen);
}

void TthumbForm1::Label9Click() {
    ShellExecuteA(Handle(), "open", MailLink, nullptr, nullptr, SW_SHOWNORMAL);
}

void TthumbForm1::Label10Click() {
    ShellExecuteA(Handle(), "open", WebLink, nullptr, nullptr, SW_SHOWNORMAL);
}

std::string TthumbForm1::FileEntry(int i) const {
    const QListWidgetItem *item = FilesListBox->item(i);
    if (!item)
        return {};
    const QVariant bytes = item->data(Qt::UserRole);
    return bytes.isValid() ? bytes.toByteArray().toStdString() : TextToPath(item->text());
}

std::string TthumbForm1::StatusText() const {
    return StatusBar1->currentMessage().toStdString();
}
