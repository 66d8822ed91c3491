// The main window driven by real key events: the focus walk.
#include <QApplication>
#include <QTest>

#include <memory>

#include "BrowserFixture.h"
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
    Main->EdSelFolder->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), Main->EdSelFolder);
    const QList<QWidget *> walk = {Main->explor, Main->ListView, Main->EdSelFolder};
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
    EXPECT_EQ(QApplication::focusWidget(), Main->ListView);

    // The arrow keys on the way change nothing that is out of sight.
    Main->explor->setFocus();
    for (int i = 0; i < 4; ++i)
        Key(Qt::Key_Up);
    EXPECT_EQ(Main->PixelFormatBits(), 32);
    for (QWidget *hidden : std::initializer_list<QWidget *>{
             Main->ComboBox1, Main->CheckBox1, Main->CheckBox2, Main->CheckBox3, Main->CheckBox4,
             Main->CheckBox5, Main->BtnStop, Main->BtnRefresh})
        EXPECT_EQ(hidden->focusPolicy(), Qt::NoFocus);
}

} // namespace
