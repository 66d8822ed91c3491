// The viewer's controls and their places: built once, by the constructor.
#include "view.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QVBoxLayout>

#include "Application.h"
#include "ExtractOptions.h"
#include "ViewPosition.h"
#include "ViewZoom.h"
#include "fullscreen.h"

namespace {

constexpr int GlyphSize = 17;

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
} // namespace

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
    BindKeys(nullptr, {QKeySequence(Qt::Key_Home)}, [this] { JumpToEnd(false); });
    BindKeys(nullptr, {QKeySequence(Qt::Key_End)}, [this] { JumpToEnd(true); });
    BindKeys(nullptr, {QKeySequence(Qt::Key_F11)}, [this] { ToggleFullScreen(); });
    // Escape leaves full screen before it closes the window.
    BindKeys(nullptr, {QKeySequence(Qt::Key_Escape)}, [this] {
        if (isFullScreen())
            ToggleFullScreen();
        else
            Close();
    });
    LabelPosition = MakePositionLabel(Panel1);

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
    FZoom = std::make_unique<TViewZoom>(RImage1);

    Timer1 = new QTimer(this);
    Timer1->setInterval(5000);
    // A coarse timer may slip by 5 %, a quarter second per picture.
    Timer1->setTimerType(Qt::PreciseTimer);
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
