// The main window driven by real key events: the focus walk, the keys and their hints, and
// the grid's thumbnails on a screen with more device pixels than logical ones.
#include <QAction>
#include <QApplication>
#include <QImage>
#include <QMenuBar>
#include <QTest>
#include <QTimer>

#include <memory>

#include "BrowserFixture.h"
#include "Cr2Writer.h"
#include "fullscreen.h"
#include "view.h"

namespace {

class KeyboardTest : public BrowserTest {
protected:
    void SetUp() override {
        BrowserTest::SetUp();
        View = std::make_unique<TviewForm>();
        Full = std::make_unique<Tfullform>();
        Main->show();
        Main->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(Main.get()));
    }
    void TearDown() override {
        BrowserTest::TearDown();
        Full.reset();
        View.reset();
    }

    // Writes a picture of one-pixel columns, black and white.
    void WriteStripes(const std::string &name, int size) {
        QImage image(size, size, QImage::Format_RGB32);
        for (int x = 0; x < size; ++x)
            for (int y = 0; y < size; ++y)
                image.setPixel(x, y, x % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
        ASSERT_TRUE(image.save(QString::fromStdString(Folder.file(name)), "PNG"));
    }

    static void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(QApplication::focusWidget(), key, modifiers);
    }

    testutil::TempDir Folder;
    std::unique_ptr<TviewForm> View;
    std::unique_ptr<Tfullform> Full;
};

TEST_F(KeyboardTest, TabGoesFolderFieldTreeGridWithTheFocusInSightAndHiddenControlsTakeNone) {
    Main->SetTreePath(Folder.path());
    ASSERT_TRUE(testutil::WaitFor([this] { return Idle(); }));
    Main->findChild<QLineEdit *>("EdSelFolder")->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), Main->findChild<QLineEdit *>("EdSelFolder"));
    const QList<QWidget *> walk = {Main->Tree(), Main->List(),
                                   Main->findChild<QLineEdit *>("EdSelFolder")};
    for (QWidget *expected : walk) {
        QWidget *from = QApplication::focusWidget();
        const QImage focused = from->grab().toImage();
        Key(Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), expected)
            << QApplication::focusWidget()->metaObject()->className();
        // The widget looks different once the focus has left it.
        EXPECT_NE(from->grab().toImage(), focused) << from->metaObject()->className();
    }
    Key(Qt::Key_Tab, Qt::ShiftModifier);
    EXPECT_EQ(QApplication::focusWidget(), Main->List());

    // The arrow keys on the way change nothing that is out of sight.
    Main->Tree()->setFocus();
    for (int i = 0; i < 4; ++i)
        Key(Qt::Key_Up);
    EXPECT_EQ(Main->PixelFormatBits(), 32);
    for (QWidget *hidden : std::initializer_list<QWidget *>{
             Main->findChild<QComboBox *>("ComboBox1"), Main->findChild<QCheckBox *>("CheckBox1"),
             Main->findChild<QCheckBox *>("CheckBox2"), Main->findChild<QCheckBox *>("CheckBox3"),
             Main->findChild<QCheckBox *>("CheckBox4"), Main->findChild<QCheckBox *>("CheckBox5"),
             Main->findChild<QPushButton *>("BtnStop"),
             Main->findChild<QPushButton *>("BtnRefresh")})
        EXPECT_EQ(hidden->focusPolicy(), Qt::NoFocus);
}

TEST_F(KeyboardTest, ReturnOpensF5RefreshesF1ShowsAboutCtrlQExits) {
    WriteStripes("a.png", 16);
    WriteStripes("b.png", 16);
    // Opened through the tree, as at start-up: the tree has a current folder to keep.
    Main->SetTreePath(Folder.path());
    ASSERT_TRUE(testutil::WaitFor([this] { return Idle(); }));
    ASSERT_EQ(Main->List()->Count(), 2);

    // The entry the arrow keys marked is opened, selected or not, by either Return key.
    Main->List()->setFocus();
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        View->hide();
        Main->List()->SetItemIndex(-1);
        Main->List()->selectionModel()->setCurrentIndex(Main->List()->model()->index(1, 0),
                                                        QItemSelectionModel::NoUpdate);
        Key(key);
        EXPECT_TRUE(View->isVisible()) << QTest::toString(key);
        EXPECT_EQ(Main->List()->ItemIndex(), 1);
        EXPECT_EQ(Main->SelectedText().toStdString(), Folder.file("b.png"));
        Main->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(Main.get()));
        Main->List()->setFocus();
    }
    // Return in the tree is not an opening.
    View->hide();
    Main->Tree()->setFocus();
    Key(Qt::Key_Return);
    EXPECT_FALSE(View->isVisible());

    const int scans = Main->ScanCount();
    Key(Qt::Key_F5);
    EXPECT_EQ(Main->ScanCount(), scans + 1);
    ASSERT_TRUE(testutil::WaitFor([this] { return Idle(); }));

    Key(Qt::Key_F1);
    EXPECT_TRUE(About->isVisible());
    About->hide();
    Main->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Main.get()));

    // Exit ends the application's event loop; a guard ends it otherwise, with 1.
    Main->Tree()->setFocus();
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    guard.start(5000);
    QTimer::singleShot(0, Main.get(), [this] { Key(Qt::Key_Q, Qt::ControlModifier); });
    EXPECT_EQ(QCoreApplication::exec(), 0);

    QStringList menus;
    for (const QAction *menu : Main->findChild<QMenuBar *>()->actions())
        menus << menu->text();
    EXPECT_EQ(menus, QStringList({"&File", "&View", "&Help"}));

    // The menu shows the keys beside its items; the hidden Refresh button names its key.
    EXPECT_EQ(Main->findChild<QAction *>("Action1")->shortcut().toString().toStdString(), "Ctrl+Q");
    EXPECT_EQ(Main->findChild<QAction *>("Action2")->shortcut().toString().toStdString(), "F1");
    EXPECT_EQ(Main->findChild<QPushButton *>("BtnRefresh")->toolTip().toStdString(),
              "Refresh (F5)");
}

// Also run with QT_SCALE_FACTOR=2 (its own ctest entry): there each cell must be rendered at
// 240 x 240 device pixels and shown at 120 x 120.
TEST_F(KeyboardTest, GridThumbnailsAreRenderedAndDrawnAtTheScreensDevicePixels) {
    const qreal ratio = Main->List()->devicePixelRatioF();
    if (qgetenv("QT_SCALE_FACTOR") == "2") {
        ASSERT_EQ(ratio, 2.0);
    }
    const int cell = qRound(120 * ratio);
    WriteStripes("stripes.png", cell);
    ScanAndWait(Folder.path());
    ASSERT_EQ(Main->List()->Count(), 1);
    const int index = Main->List()->ImageIndex(0);
    ASSERT_GE(index, 0);
    const QPixmap &pixmap = Main->Images()->Image(index);
    EXPECT_EQ(pixmap.size(), QSize(cell, cell));
    EXPECT_EQ(pixmap.devicePixelRatio(), ratio);
    EXPECT_EQ(Main->List()->iconSize(), QSize(120, 120));

    // What is drawn keeps the one-pixel columns: some row of the grid alternates over most of
    // a cell's width in device pixels.
    const QImage shot = Main->List()->viewport()->grab().toImage();
    int longest = 0;
    for (int y = 0; y < shot.height(); ++y) {
        int run = 0;
        for (int x = 1; x < shot.width(); ++x) {
            const bool a = qGray(shot.pixel(x - 1, y)) > 128, b = qGray(shot.pixel(x, y)) > 128;
            run = a != b ? run + 1 : 0;
            longest = std::max(longest, run);
        }
    }
    EXPECT_GE(longest, cell * 3 / 4);
}

TEST_F(KeyboardTest, RawThumbnailsAtTheScreensDevicePixelsAreAsWideAsThePicturesBesideThem) {
    cr2::Cr2Options options;
    options.PreviewJpeg = cr2::EncodeJpeg(cr2::QuarterPicture(600, 400));
    cr2::WriteCr2(Folder.file("IMG_0001.CR2"), options);
    WriteStripes("wide.png", 600);
    ScanAndWait(Folder.path());
    ASSERT_EQ(Main->List()->Count(), 2);
    for (int row = 0; row < 2; ++row) {
        const QPixmap &pixmap = Main->Images()->Image(Main->List()->ImageIndex(row));
        EXPECT_EQ(qRound(pixmap.width() / pixmap.devicePixelRatio()), 120) << row;
    }
}

TEST_F(KeyboardTest, FileTypeIconsKeepTheirSizeAtTheScreensDevicePixels) {
    const qreal ratio = Main->List()->devicePixelRatioF();
    // Not a picture: its cell keeps the icon of the icon pass.
    testutil::WriteFile(Folder.file("broken.jpg"), std::string("not a picture at all"));
    ScanAndWait(Folder.path());
    ASSERT_EQ(Main->List()->Count(), 1);
    const QImage cell = Main->Images()->Image(Main->List()->ImageIndex(0)).toImage();
    ASSERT_EQ(cell.width(), qRound(120 * ratio));
    // The icon's extent inside the one-pixel border, against the cell's own background.
    const QRgb background = cell.pixel(cell.width() / 2, 2);
    int left = cell.width(), right = -1, top = cell.height(), bottom = -1;
    for (int y = 1; y < cell.height() - 1; ++y)
        for (int x = 1; x < cell.width() - 1; ++x)
            if (cell.pixel(x, y) != background) {
                left = std::min(left, x), right = std::max(right, x);
                top = std::min(top, y), bottom = std::max(bottom, y);
            }
    // A 32-pixel icon on screen: 32 x ratio device pixels, less any margin of the icon's own.
    const int extent = std::max(right - left, bottom - top) + 1;
    EXPECT_LE(extent, qRound(32 * ratio));
    EXPECT_GE(extent, qRound(32 * ratio * 0.6));
    // Centred in the cell.
    EXPECT_NEAR(left + right, cell.width() - 1, 2 * ratio);
    EXPECT_NEAR(top + bottom, cell.height() - 1, 2 * ratio);
}

} // namespace
