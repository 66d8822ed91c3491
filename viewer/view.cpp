#include "view.h"

#include <QApplication>
#include <QFile>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "Application.h"
#include "ExtractOptions.h"
#include "FileSystem.h"
#include "JpegCodec.h"
#include "RawFormats.h"
#include "RawPreview.h"
#include "ShellObjHelper.h"
#include "fullscreen.h"

TviewForm *viewForm = nullptr;
std::string ViewerRawPath;

namespace {

QString Decode(const std::string &s) {
    return QFile::decodeName(QByteArray::fromStdString(s));
}

constexpr int GlyphSize = 17;
constexpr const char *NoThumbnailText = "Thumbnail is not available. Default icon displayed.";

// A quarter-circle arrow for the turn buttons when the icon theme has none.
QIcon DrawnTurnGlyph(bool counterClockwise, const QColor &color) {
    QPixmap pixmap(GlyphSize, GlyphSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(color, 1.6));
    const QRectF circle(3.5, 4.5, 10, 10);
    // Three quarters of a circle, open at the top, ending in an arrowhead.
    const double start = counterClockwise ? 45 : 135;
    const double span = counterClockwise ? 270 : -270;
    QPainterPath arc;
    arc.arcMoveTo(circle, start);
    arc.arcTo(circle, start, span);
    painter.drawPath(arc);
    const QPointF tip = arc.currentPosition();
    const double dir = counterClockwise ? 1 : -1;
    QPolygonF head;
    head << tip + QPointF(-3.5 * dir, -2.5) << tip + QPointF(1.5 * dir, -3.5)
         << tip + QPointF(0.5 * dir, 1.5);
    painter.setBrush(color);
    painter.setPen(Qt::NoPen);
    painter.drawPolygon(head);
    return QIcon(pixmap);
}

QIcon Glyph(const char *themeName, QStyle::StandardPixmap fallback) {
    QIcon icon = QIcon::fromTheme(QString::fromLatin1(themeName));
    return icon.isNull() ? QApplication::style()->standardIcon(fallback) : icon;
}

QIcon TurnGlyph(const char *themeName, bool counterClockwise, const QColor &color) {
    QIcon icon = QIcon::fromTheme(QString::fromLatin1(themeName));
    return icon.isNull() ? DrawnTurnGlyph(counterClockwise, color) : icon;
}

QToolButton *MakeSpeedButton(QWidget *parent, const QIcon &glyph, const char *hint, int left) {
    auto *button = new QToolButton(parent);
    button->setGeometry(left, 8, 30, 20);
    button->setAutoRaise(true); // flat
    button->setIcon(glyph);
    button->setIconSize(QSize(GlyphSize, GlyphSize));
    button->setCursor(Qt::PointingHandCursor);
    button->setToolTip(QString::fromUtf8(hint));
    // The glyph is all a sighted user sees; a screen reader says the hint.
    button->setAccessibleName(QString::fromUtf8(hint));
    // The arrow keys step through the pictures, so no button may take the focus from the
    // window.
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

QPushButton *MakeHiddenButton(QWidget *parent, const char *caption) {
    auto *button = new QPushButton(QString::fromUtf8(caption), parent);
    button->setVisible(false);
    return button;
}

QCheckBox *MakeOptionBox(QWidget *parent, const char *caption, const char *hint) {
    auto *box = new QCheckBox(QString::fromUtf8(caption), parent);
    box->setToolTip(QString::fromUtf8(hint));
    box->setVisible(false);
    return box;
}

// Shows the viewer's colours behind a widget: the window colour (white) of the bars and
// margins.
void FillWithWindowColor(QWidget *widget) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, ToQColor(clWindow));
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

// The largest screen in device pixels: no picture is shown larger than that.
QSize LargestScreen() {
    QSize largest;
    for (const QScreen *screen : QGuiApplication::screens()) {
        const QSize size = screen->geometry().size() * screen->devicePixelRatio();
        largest = largest.expandedTo(size);
    }
    return largest;
}

// The preview file as a JPEG picture, decoded no larger than a screen needs.
void LoadPreview(TPicture &picture, const std::string &path) {
    const std::vector<std::uint8_t> bytes = ReadWholeFile(path);
    const JpegHeaderInfo info = ReadJpegHeader(bytes.data(), bytes.size());
    const int denom = PreviewScaleDenom(info.width, info.height, LargestScreen());
    TJPEGImage jpeg;
    jpeg.LoadFromImage(DecodeJpeg(bytes.data(), bytes.size(), denom));
    picture.SetGraphic(&jpeg);
}

} // namespace

int PreviewScaleDenom(int width, int height, QSize screen) {
    if (width <= 0 || height <= 0 || screen.isEmpty())
        return 1;
    const double sw = screen.width(), sh = screen.height();
    const double upright = std::min(sw / width, sh / height);
    const double turned = std::min(sw / height, sh / width);
    const double needed = std::max(upright, turned);
    for (int denom : {8, 4, 2})
        if (1.0 / denom >= needed)
            return denom;
    return 1;
}

TviewForm::TviewForm(QWidget *parent) : TForm(parent) {
    if (!viewForm)
        viewForm = this;
    BuildLayout();
    FormCreate();
}

TviewForm::~TviewForm() {
    if (viewForm == this)
        viewForm = nullptr;
}

void TviewForm::BuildLayout() {
    // Single border with only the close box.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    resize(764, 523);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    FillWithWindowColor(this);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    // The top bar: the speed buttons keep their designed places when the bar widens.
    Panel1 = new QFrame(this);
    Panel1->setFixedHeight(40);
    FillWithWindowColor(Panel1);
    const QColor ink = palette().color(QPalette::ButtonText);
    SpeedButton5 = MakeSpeedButton(Panel1, TurnGlyph("object-rotate-left", true, ink),
                                   "Rotate Counter Clockwise", 248);
    SpeedButton4 = MakeSpeedButton(Panel1, TurnGlyph("object-rotate-right", false, ink),
                                   "Rotate Clockwise", 304);
    SpeedButton2 =
        MakeSpeedButton(Panel1, Glyph("go-previous", QStyle::SP_ArrowLeft), "Previous Image", 360);
    SpeedButton1 =
        MakeSpeedButton(Panel1, Glyph("go-next", QStyle::SP_ArrowRight), "Next Image", 408);
    SpeedButton3 = MakeSpeedButton(Panel1, Glyph("media-playback-start", QStyle::SP_MediaPlay),
                                   "Slideshow", 464);
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
    connect(SpeedButton2, &QToolButton::clicked, this, [this] { SpeedButton2Click(); });
    connect(SpeedButton3, &QToolButton::clicked, this, [this] { SpeedButton3Click(); });
    connect(SpeedButton4, &QToolButton::clicked, this, [this] { SpeedButton4Click(); });
    connect(SpeedButton5, &QToolButton::clicked, this, [this] { SpeedButton5Click(); });
    outer->addWidget(Panel1);

    // The keys users of other picture viewers know; Left and Right step as well.
    BindKeys(SpeedButton5, {QKeySequence(Qt::CTRL | Qt::Key_L), QKeySequence(Qt::Key_BracketLeft)},
             [this] { SpeedButton5Click(); });
    BindKeys(SpeedButton4, {QKeySequence(Qt::CTRL | Qt::Key_R), QKeySequence(Qt::Key_BracketRight)},
             [this] { SpeedButton4Click(); });
    BindKeys(
        SpeedButton1,
        {QKeySequence(Qt::Key_Space), QKeySequence(Qt::Key_PageDown), QKeySequence(Qt::Key_Right)},
        [this] { SpeedButton1Click(); });
    BindKeys(
        SpeedButton2,
        {QKeySequence(Qt::Key_Backspace), QKeySequence(Qt::Key_PageUp), QKeySequence(Qt::Key_Left)},
        [this] { SpeedButton2Click(); });
    BindKeys(SpeedButton3, {QKeySequence(Qt::Key_F5)}, [this] { SpeedButton3Click(); });
    BindKeys(nullptr, {QKeySequence(Qt::Key_Escape)}, [this] { Close(); });

    // White margins of 20 pixels on the left, right and bottom around the picture panel.
    auto *margins = new QWidget(this);
    FillWithWindowColor(margins);
    auto *marginLayout = new QHBoxLayout(margins);
    marginLayout->setContentsMargins(20, 0, 20, 20);
    Panel2 = new QFrame(margins);
    FillWithWindowColor(Panel2);
    marginLayout->addWidget(Panel2);
    outer->addWidget(margins, 1);

    RImage1 = new TRotateImage(Panel2);
    RImage1->SetLoading(true);
    RImage1->SetCenter(true);
    RImage1->SetProportional(true);
    RImage1->SetTransparent(true);
    RImage1->SetUniqueSize(false);
    RImage1->SetColor(clBtnFace);
    RImage1->SetAlign(TAlign::alClient);
    RImage1->SetLoading(false);
    RImage1->installEventFilter(this);

    Timer1 = new QTimer(this);
    Timer1->setInterval(5000);
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });

    // The controls the user never sees.
    BtnBrowse = MakeHiddenButton(this, "...");
    Button1 = MakeHiddenButton(this, "rotate");
    Button2 = MakeHiddenButton(this, "Next");
    Button3 = MakeHiddenButton(this, "Previous");
    Button4 = MakeHiddenButton(this, "slideshow");
    connect(BtnBrowse, &QPushButton::clicked, this, [this] { BtnBrowseClick(); });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
    connect(Button4, &QPushButton::clicked, this, [this] { Button4Click(); });
    Label1 = new QLabel(QStringLiteral("File Name:"), this);
    Label1->setVisible(false);
    Edit1 = new QLineEdit(this);
    Edit1->setReadOnly(true);
    Edit1->setVisible(false);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setReadOnly(true);
    Memo1->setVisible(false);
    ComboBox1 = new QComboBox(this);
    ComboBox1->addItems({"pf4Bit", "pf8Bit", "pf16Bit", "pf24Bit", "pf32Bit"});
    ComboBox1->setVisible(false);
    Label2 = new QLabel(QStringLiteral("Thumbnail Image PixelFormat:"), this);
    Label2->setVisible(false);
    Label3 = new QLabel(QStringLiteral("GetLocation Flags:"), this);
    Label3->setVisible(false);
    CheckBox1 =
        MakeOptionBox(this, "IEIFLAG_ASPECT", "Render to the aspect ratio of the supplied rect");
    CheckBox2 =
        MakeOptionBox(this, "IEIFLAG_OFFLINE",
                      "Extractor shouldn't hit the net to get any content needs for the rendering");
    CheckBox3 =
        MakeOptionBox(this, "IEIFLAG_SCREEN",
                      "Render as if for the screen  (this is exlusive with IEIFLAG_ASPECT )");
    CheckBox3->setChecked(true);
    CheckBox4 = MakeOptionBox(this, "IEIFLAG_QUALITY",
                              "Indicate that a slower, higher quality image is desired");
    CheckBox5 = MakeOptionBox(this, "IEIFLAG_ORIGSIZE",
                              "Render to the approx size passed, but crop if neccessary");
    connect(CheckBox1, &QCheckBox::clicked, this, [this] { CheckBox1Click(CheckBox1); });
    connect(CheckBox3, &QCheckBox::clicked, this, [this] { CheckBox1Click(CheckBox3); });

    setWindowState(Qt::WindowMaximized);
}

void TviewForm::FormCreate() {
    SetCaption(Application ? Application->Title() : std::string("Pixavant"));
    setFont(DefaultGuiFont());
    ComboBox1->setCurrentIndex(ComboBox1->count() - 1);
    SetTag(CheckBox1, int(IEIFLAG_ASPECT));
    SetTag(CheckBox2, int(IEIFLAG_OFFLINE));
    SetTag(CheckBox3, int(IEIFLAG_SCREEN));
    SetTag(CheckBox4, int(IEIFLAG_QUALITY));
    SetTag(CheckBox5, int(IEIFLAG_ORIGSIZE));
}

// ---------------------------------------------------------------------------------------------
// Opening

void TviewForm::BtnBrowseClick() {
    if (!FBrowser)
        return;
    const int index = FBrowser->SelectedEntry();
    if (index < 0)
        return;
    // The path as bytes: a name that is not UTF-8 still names its file.
    const std::string path = FBrowser->SelectedPicture();
    if (path.empty())
        return;
    SetCaption("Pixavant - " + FBrowser->EntryCaption(index));
    Edit1->setText(Decode(path));
    Label1->setText(Decode(ExtractFileName(path)));
    Memo1->setPlainText(QStringLiteral("Extracting..."));

    if (!IsRawFileName(path)) {
        // Every opened picture starts unturned.
        RImage1->SetAngle(0);
        FShellPath = path;
        FShellSize = QSize();
        RequestShellThumbnail();
        return;
    }
    FShellPath.clear();

    // The turn and the new picture are built once, not the old picture unturned first; an
    // error still leaves the old picture, unturned.
    struct TLoadGuard {
        TRotateImage *image;
        ~TLoadGuard() { image->SetLoading(false); }
    } guard{RImage1};
    RImage1->SetLoading(true);
    RImage1->SetAngle(0);
    ViewerRawPath = path;
    if (!BikinRaw()) {
        // No preview: never show the previous file's preview in its place.
        ShowDefaultIcon(path);
        return;
    }
    TPicture preview;
    LoadPreview(preview, TempPreviewFile(TempPreview::Viewer));
    RImage1->SetPicture(preview);
    if (fullform)
        fullform->RImage2->SetPicture(preview);
    Memo1->setPlainText(QStringLiteral("Ready"));
}

bool TviewForm::BikinRaw() {
    return ExtractPreviewToTemp(ViewerRawPath, TempPreview::Viewer);
}

void TviewForm::WndProc(TMessage &message) {
    if (message.Msg == WM_SHOWTHUMBNAIL)
        WMShowThumbnail();
}

void TviewForm::RequestShellThumbnail() {
    // One pending request is enough: its handler renders the file opened last.
    if (!FShellThumbnailPending)
        FShellThumbnailPending = PostMessageA(Handle(), WM_SHOWTHUMBNAIL, 0, 0);
}

void TviewForm::WMShowThumbnail() {
    FShellThumbnailPending = false;
    // Empty when a RAW file was opened after the request was posted.
    const std::string path = FShellPath;
    if (path.empty())
        return;
    // A file the shell cannot even name is reported once, not again on every resize.
    FShellPath.clear();
    FShellSize = RImage1->size();
    ShowShellThumbnail(path);
    FShellPath = path;
}

bool TviewForm::eventFilter(QObject *watched, QEvent *event) {
    if (watched == RImage1 && event->type() == QEvent::Resize && !FShellPath.empty() &&
        !FShellSize.isEmpty() && isVisible() && RImage1->size() != FShellSize)
        RequestShellThumbnail();
    return TForm::eventFilter(watched, event);
}

void TviewForm::ShowShellThumbnail(const std::string &path) {
    const unsigned depth = unsigned(PixelFormatBits());
    DWORD flags = ExtractFlags();
    ComPtr<IExtractImage> extractor;
    std::unique_ptr<TBitmap> bitmap;
    if (GetExtractImageForFile(path, extractor)) {
        ComPtr<IRunnableTask> task;
        // Rendered at the screen's device pixels: on a 2x screen a picture of the control's
        // logical size would be half the resolution, blown up.
        const QSize pixels = ShellRequestSize();
        if (GetThumbnailBitmap(extractor.Get(), pixels.width(), pixels.height(), depth, flags, task,
                               bitmap)) {
            RImage1->Picture().SetGraphic(bitmap.get());
            if (fullform)
                fullform->RImage2->Picture().SetGraphic(bitmap.get());
            static const struct {
                DWORD Flag;
                const char *Text;
            } FlagLines[] = {
                {IEIFLAG_CACHE, "Extractor does not cache the thumbnail."},
                {IEIFLAG_GLEAM, "The image has a gleam."},
                {IEIFLAG_NOSTAMP, "Extractor does not want an icon stamp on the thumbnail."},
                {IEIFLAG_NOBORDER, "Extractor does not want an a border around the thumbnail."},
            };
            Memo1->clear();
            for (const auto &line : FlagLines)
                if (flags & line.Flag)
                    Memo1->appendPlainText(QString::fromUtf8(line.Text));
            return;
        }
    }
    ShowDefaultIcon(path);
}

QSize TviewForm::ShellRequestSize() const {
    return (QSizeF(RImage1->size()) * RImage1->devicePixelRatioF()).toSize();
}

void TviewForm::ShowDefaultIcon(const std::string &path) {
    std::unique_ptr<TIcon> icon;
    if (!GetFileIcon(path, icon) || !icon)
        return;
    Memo1->setPlainText(QString::fromUtf8(NoThumbnailText));
    RImage1->Picture().SetGraphic(icon.get());
}

unsigned TviewForm::ExtractFlags() const {
    return CheckedFlags({CheckBox1, CheckBox2, CheckBox3, CheckBox4, CheckBox5});
}

int TviewForm::PixelFormatBits() const {
    return ColorDepthBits(ComboBox1->currentIndex());
}

void TviewForm::CheckBox1Click(QCheckBox *sender) {
    ExcludeAspectAndScreen(sender, CheckBox1, CheckBox3);
}

// ---------------------------------------------------------------------------------------------
// Turns

void TviewForm::SpeedButton4Click() {
    RImage1->SetAngle(RImage1->Angle() - 90);
}

void TviewForm::Button1Click() {
    SpeedButton4Click();
}

void TviewForm::SpeedButton5Click() {
    RImage1->SetAngle(RImage1->Angle() + 90);
}

// ---------------------------------------------------------------------------------------------
// Next and Previous

void TviewForm::OpenEntry(int index) {
    // Selecting the entry makes the browser record the picture it stands for (a RAW file's
    // thumbnail entry leads to the RAW file).
    FBrowser->SelectEntry(index);
    BtnBrowseClick();
}

void TviewForm::Step(int delta) {
    if (!FBrowser)
        return;
    const int count = FBrowser->EntryCount();
    if (count == 0)
        return;
    const int index = FBrowser->SelectedEntry();
    if (index < 0) {
        // With no selection Next begins at the first entry, Previous at the last.
        OpenEntry(delta > 0 ? 0 : count - 1);
        return;
    }
    OpenEntry((index + delta + count) % count); // wraps around at both ends
}

void TviewForm::Button2Click() {
    Step(+1);
}

void TviewForm::SpeedButton1Click() {
    Button2Click();
}

void TviewForm::Button3Click() {
    Step(-1);
}

void TviewForm::SpeedButton2Click() {
    Button3Click();
}

void TviewForm::BindKeys(QToolButton *button, const QList<QKeySequence> &keys,
                         std::function<void()> run) {
    if (button) {
        QStringList names;
        for (const QKeySequence &key : keys)
            names << key.toString(QKeySequence::NativeText);
        button->setToolTip(button->toolTip() + QStringLiteral(" (") + names.join(", ") + ")");
    }
    FKeys.push_back({keys, std::move(run)});
}

void TviewForm::keyPressEvent(QKeyEvent *event) {
    // The keypad's Enter and a keyboard layout's level switch do not make another key.
    const Qt::KeyboardModifiers modifiers =
        event->modifiers() & ~(Qt::KeypadModifier | Qt::GroupSwitchModifier);
    const QKeySequence pressed(QKeyCombination(modifiers, Qt::Key(event->key())));
    for (const TKeyBinding &binding : FKeys)
        if (binding.Keys.contains(pressed)) {
            binding.Run();
            return;
        }
    TForm::keyPressEvent(event);
}

// ---------------------------------------------------------------------------------------------
// Slideshow

void TviewForm::Button4Click() {
    if (fullform)
        fullform->ShowFullScreen();
    Timer1->start();
}

void TviewForm::SpeedButton3Click() {
    Button4Click();
}

void TviewForm::Timer1Timer() {
    if (!Timer1->isActive())
        return;
    // While an error box is open the show waits, rather than stacking a box every tick.
    if (QApplication::activeModalWidget())
        return;
    Button2Click();
}
