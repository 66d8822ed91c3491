// The main window's layout: the components, their places and their wiring. The logic lives in
// main.cpp and MainScan.cpp.
#include <QBoxLayout>
#include <QFrame>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QSplitter>
#include <QTimer>

#include "FolderTreeModel.h"
#include "main.h"

namespace {

QLabel *MakeLabel(QWidget *parent, const char *caption, int left, int top) {
    auto *label = new QLabel(QString::fromUtf8(caption), parent);
    label->move(left, top);
    label->adjustSize();
    return label;
}

QCheckBox *MakeCheckBox(QWidget *parent, const char *caption, const char *hint, int left, int top) {
    auto *box = new QCheckBox(QString::fromUtf8(caption), parent);
    box->setToolTip(QString::fromUtf8(hint));
    box->move(left, top);
    box->adjustSize();
    return box;
}

// A status panel whose text never widens the window: a long text (a file name may have 255
// bytes) is shortened with "..." in the middle to the width the layout gives it.
class TElidingPanel : public QLabel {
public:
    using QLabel::QLabel;
    QSize minimumSizeHint() const override { return {0, QLabel::minimumSizeHint().height()}; }
    QSize sizeHint() const override { return {0, QLabel::sizeHint().height()}; }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        drawFrame(&painter);
        const QRect area = contentsRect();
        painter.drawText(area, int(alignment()),
                         fontMetrics().elidedText(text(), Qt::ElideMiddle, area.width()));
    }
};

QLabel *MakePanel(QWidget *parent) {
    auto *panel = new TElidingPanel(parent);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return panel;
}

} // namespace

void TMainForm::BuildLayout() {
    resize(731, 500);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    // Top: menu bar over the folder field; the state-holding controls lie below its height.
    PnlTop = new QFrame(this);
    PnlTop->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    PnlTop->setFixedHeight(65);
    auto *topLayout = new QVBoxLayout(PnlTop);
    topLayout->setContentsMargins(1, 1, 1, 1);
    topLayout->setSpacing(0);
    CoolBar1 = new QWidget(PnlTop);
    auto *coolLayout = new QVBoxLayout(CoolBar1);
    coolLayout->setContentsMargins(0, 0, 0, 0);
    coolLayout->setSpacing(0);
    ActionMainMenuBar1 = new QMenuBar(CoolBar1);
    ActionMainMenuBar1->setNativeMenuBar(false);
    ActionMainMenuBar1->setFixedHeight(25);
    QMenu *fileMenu = ActionMainMenuBar1->addMenu(tr("&File"));
    Action1 = fileMenu->addAction(tr("&Exit"));
    Action1->setIconText(tr("Exit"));
    connect(Action1, &QAction::triggered, this, [this] { Action1Execute(); });
    QMenu *helpMenu = ActionMainMenuBar1->addMenu(tr("&Help"));
    Action2 = helpMenu->addAction(tr("About"));
    connect(Action2, &QAction::triggered, this, [this] { Action2Execute(); });
    coolLayout->addWidget(ActionMainMenuBar1);
    Panel1 = new QFrame(CoolBar1);
    Panel1->setMinimumHeight(30);
    auto *panelLayout = new QHBoxLayout(Panel1);
    panelLayout->setContentsMargins(1, 4, 8, 5);
    EdSelFolder = new QLineEdit(Panel1);
    EdSelFolder->setReadOnly(true);
    EdSelFolder->setFixedHeight(21);
    panelLayout->addWidget(EdSelFolder);
    BtnBrowse = new QPushButton(QStringLiteral("..."), Panel1);
    BtnBrowse->setFixedSize(33, 30);
    SetTag(BtnBrowse, 2);
    BtnBrowse->setVisible(false);
    connect(BtnBrowse, &QPushButton::clicked, this, [this] { BtnBrowseClick(); });
    panelLayout->addWidget(BtnBrowse);
    coolLayout->addWidget(Panel1);
    topLayout->addWidget(CoolBar1);

    Label2 = MakeLabel(PnlTop, "Thumbnail Image PixelFormat:", 400, 256);
    ComboBox1 = new QComboBox(PnlTop);
    ComboBox1->setGeometry(544, 252, 65, 21);
    ComboBox1->addItems({"pf4Bit", "pf8Bit", "pf16Bit", "pf24Bit", "pf32Bit"});
    Label3 = MakeLabel(PnlTop, "GetLocation Flags:", 536, 214);
    Label3->setVisible(false);
    CheckBox1 = MakeCheckBox(PnlTop, "IEIFLAG_ASPECT",
                             "Render to the aspect ratio of the supplied rect", 264, 190);
    connect(CheckBox1, &QCheckBox::clicked, this, [this] { CheckBox1Click(CheckBox1); });
    CheckBox2 = MakeCheckBox(
        PnlTop, "IEIFLAG_OFFLINE",
        "Extractor shouldn't hit the net to get any content needs for the rendering", 264, 209);
    CheckBox3 = MakeCheckBox(PnlTop, "IEIFLAG_SCREEN",
                             "Render as if for the screen  (this is exlusive with IEIFLAG_ASPECT )",
                             264, 228);
    CheckBox3->setChecked(true);
    CheckBox4 = MakeCheckBox(PnlTop, "IEIFLAG_QUALITY",
                             "Indicate that a slower, higher quality image is desired", 408, 190);
    CheckBox5 = MakeCheckBox(PnlTop, "IEIFLAG_ORIGSIZE",
                             "Render to the approx size passed, but crop if neccessary", 400, 209);
    BtnStop = new QPushButton(tr("Stop"), PnlTop);
    BtnStop->move(47, 254);
    BtnStop->setEnabled(false);
    connect(BtnStop, &QPushButton::clicked, this, [this] { BtnStopClick(); });
    BtnRefresh = new QPushButton(tr("Refresh"), PnlTop);
    BtnRefresh->move(135, 254);
    connect(BtnRefresh, &QPushButton::clicked, this,
            [this] { QTimer::singleShot(0, this, [this] { BtnRefreshClick(); }); });
    Label1 = MakeLabel(PnlTop, "Label1", 8, 8);
    Label1->setVisible(false);
    Button1 = new QPushButton(QStringLiteral("Button1"), PnlTop);
    Button1->move(8, 30);
    Button1->setVisible(false);
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    outer->addWidget(PnlTop);

    // Middle: the folder tree and the thumbnail list.
    auto *splitter = new QSplitter(Qt::Horizontal, this);
    explorModel = new TFolderTreeModel(this);
    explor = new TFolderTreeView(splitter);
    explor->setModel(explorModel);
    explor->header()->hide();
    explor->setIndentation(19);
    explor->setRootIsDecorated(false); // no button at the root
    explor->setContextMenuPolicy(Qt::PreventContextMenu);
    explor->setMinimumWidth(100);
    explor->expand(explorModel->index(0, 0)); // the root has no button, so it stays open
    connect(explor->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex &current) { TreeCurrentChanged(current); });
    FTreeRest = new QTimer(this);
    FTreeRest->setSingleShot(true);
    connect(FTreeRest, &QTimer::timeout, this, [this] { TreeRested(); });
    connect(explor, &TFolderTreeView::FolderTaken, this, [this] { TreeFolderTaken(); });

    ImageList1 = std::make_unique<TImageList>(120, 120);
    ListView = new TListView(splitter);
    ListView->SetLargeImages(ImageList1.get());
    ListView->OnSelectItem = [this](int item, bool selected) {
        ListViewSelectItem(item, selected);
    };
    ListView->OnDblClick = [this] { ListViewDblClick(); };
    splitter->addWidget(explor);
    splitter->addWidget(ListView);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({185, 546});
    outer->addWidget(splitter, 1);

    // Bottom: the status line.
    PnlBtm = new QFrame(this);
    PnlBtm->setFixedHeight(20);
    auto *bottom = new QHBoxLayout(PnlBtm);
    bottom->setContentsMargins(1, 1, 1, 1);
    bottom->setSpacing(1);
    PnlStatus = MakePanel(PnlBtm);
    PnlStatus->setFixedWidth(184);
    PnlCurFile = MakePanel(PnlBtm);
    ProgressBar1 = new QProgressBar(PnlBtm);
    ProgressBar1->setFixedWidth(235);
    ProgressBar1->setRange(0, 0);
    ProgressBar1->setMaximum(100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    bottom->addWidget(PnlStatus);
    bottom->addWidget(PnlCurFile, 1);
    bottom->addWidget(ProgressBar1);
    outer->addWidget(PnlBtm);

    // Named as on the window, for tools and tests that look a control up.
    const std::pair<QObject *, const char *> names[] = {
        {PnlBtm, "PnlBtm"},         {PnlStatus, "PnlStatus"},
        {PnlCurFile, "PnlCurFile"}, {ProgressBar1, "ProgressBar1"},
        {explor, "explor"},         {ListView, "ListView"},
        {PnlTop, "PnlTop"},         {CoolBar1, "CoolBar1"},
        {Panel1, "Panel1"},         {EdSelFolder, "EdSelFolder"},
        {BtnBrowse, "BtnBrowse"},   {Action1, "Action1"},
        {Action2, "Action2"},       {Label2, "Label2"},
        {ComboBox1, "ComboBox1"},   {Label3, "Label3"},
        {CheckBox1, "CheckBox1"},   {CheckBox2, "CheckBox2"},
        {CheckBox3, "CheckBox3"},   {CheckBox4, "CheckBox4"},
        {CheckBox5, "CheckBox5"},   {BtnStop, "BtnStop"},
        {BtnRefresh, "BtnRefresh"}, {Label1, "Label1"},
        {Button1, "Button1"},       {ActionMainMenuBar1, "ActionMainMenuBar1"}};
    for (const auto &[object, name] : names)
        object->setObjectName(QString::fromLatin1(name));
}
