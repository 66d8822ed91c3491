// The About window reads the registered owner and organisation every time it is shown.
#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <QUrl>

#include <map>
#include <optional>
#include <vector>

#include "Application.h"
#include "Registry.h"
#include "TestUtil.h"
#include "about.h"

namespace {

struct FakeRegistry {
    std::map<std::string, std::string> values;
    std::unique_ptr<TServicesScope> scope = testutil::ChangeServices([this](TPlatformServices &s) {
        s.RegistryValue = [this](const std::string &name) -> std::optional<std::string> {
            auto it = values.find(name);
            if (it == values.end())
                return std::nullopt;
            return it->second;
        };
    });
};

// Receives what the desktop is asked to open, instead of a browser.
class OpenedUrls : public QObject {
    Q_OBJECT
public:
    OpenedUrls() {
        QDesktopServices::setUrlHandler("https", this, "open");
        QDesktopServices::setUrlHandler("http", this, "open");
    }
    ~OpenedUrls() override {
        QDesktopServices::unsetUrlHandler("https");
        QDesktopServices::unsetUrlHandler("http");
    }
    std::vector<QUrl> Urls;

public slots:
    void open(const QUrl &url) { Urls.push_back(url); }
};

// The home page the package metadata publishes: the site the About link must lead to.
QString PublishedHomePage() {
    QFile file(QStringLiteral(PIXAVANT_METAINFO));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const auto m = QRegularExpression(QStringLiteral("<url type=\"homepage\">([^<]+)</url>"))
                       .match(QString::fromUtf8(file.readAll()));
    return m.hasMatch() ? m.captured(1) : QString();
}

// Restores the application's main window on the way out.
struct MainWindowAs {
    QWidget *Saved = Application->MainForm();
    explicit MainWindowAs(QWidget *w) { Application->SetMainForm(w); }
    ~MainWindowAs() { Application->SetMainForm(Saved); }
};

} // namespace

TEST(About, LabelsComeFromTheRegistryOnEveryShow) {
    FakeRegistry registry;
    registry.values = {{"RegisteredOwner", "Ada Lovelace"},
                       {"RegisteredOrganization", "Analytical"}};
    TAboutform about;
    EXPECT_EQ(about.Caption(), "About");
    EXPECT_EQ(about.windowTitle(), "About"); // what the title bar shows
    about.Show();
    EXPECT_EQ(about.Label9->text(), "Ada Lovelace");
    EXPECT_EQ(about.Label10->text(), "Analytical");

    about.Close();
    registry.values = {{"RegisteredOwner", "Grace Hopper"}};
    about.Show();
    EXPECT_EQ(about.Label9->text(), "Grace Hopper");
    EXPECT_EQ(about.Label10->text(), ""); // a missing value leaves the label empty
    about.SpeedButton2Click();
    EXPECT_FALSE(about.isVisible());
}

TEST(About, OwnerOf256CharactersOrMoreLeavesTheLabelEmpty) {
    FakeRegistry registry;
    registry.values = {{"RegisteredOwner", std::string(255, 'a')}};
    EXPECT_EQ(ReadRegistryString("RegisteredOwner"), std::string(255, 'a'));
    registry.values = {{"RegisteredOwner", std::string(256, 'b')}};
    EXPECT_EQ(ReadRegistryString("RegisteredOwner"), "");
    registry.values = {{"RegisteredOwner", std::string(5000, 'c')}};
    TAboutform about;
    about.Show();
    EXPECT_TRUE(about.Label9->text().isEmpty());
}

TEST(About, RealSourceGivesTheUsersNameAndOrganisationFromTheEnvironment) {
    setenv("ORGANIZATION", "Darkroom Ltd", 1);
    EXPECT_EQ(ReadRegistryString("RegisteredOrganization"), "Darkroom Ltd");
    unsetenv("ORGANIZATION");
    EXPECT_EQ(ReadRegistryString("RegisteredOrganization"), "");
    EXPECT_FALSE(ReadRegistryString("RegisteredOwner").empty()); // GECOS name or login name
    EXPECT_EQ(ReadRegistryString("NoSuchValue"), "");
}

namespace {

std::string Name(const QWidget *w) {
    if (auto *label = qobject_cast<const QLabel *>(w))
        return "label \"" + label->text().toStdString() + "\"";
    if (auto *box = qobject_cast<const QGroupBox *>(w))
        return "frame \"" + box->title().toStdString() + "\"";
    return w->metaObject()->className();
}

// Every text fits its label, every label its frame, and no two controls of a frame overlap.
void ExpectTextsFit(TAboutform &about, const char *where) {
    const QList<QWidget *> frames = {&about, about.GroupBox2, about.GroupBox3, about.GroupBox4};
    for (QWidget *frame : frames) {
        const QRect inside = frame->rect();
        QList<QWidget *> children;
        for (QObject *o : frame->children())
            if (auto *w = qobject_cast<QWidget *>(o); w && !w->isWindow())
                children << w;
        for (QWidget *w : children) {
            const QSize hint = w->sizeHint();
            EXPECT_GE(w->width(), hint.width()) << where << ": " << Name(w);
            EXPECT_GE(w->height(), hint.height()) << where << ": " << Name(w);
            EXPECT_TRUE(inside.contains(w->geometry()))
                << where << ": " << Name(w) << " runs over its frame";
            for (QWidget *other : children) {
                if (other != w) {
                    EXPECT_FALSE(w->geometry().intersects(other->geometry()))
                        << where << ": " << Name(w) << " overlaps " << Name(other);
                }
            }
        }
    }
}

} // namespace

TEST(About, EveryTextFitsItsFrameAtTheDefaultFontAndALargerOne) {
    FakeRegistry registry;
    registry.values = {{"RegisteredOwner", "Ada Lovelace"},
                       {"RegisteredOrganization", "Analytical"}};
    TAboutform about;
    about.Show();
    ExpectTextsFit(about, "default font");
    // The described texts stay as they are, spelling included.
    EXPECT_EQ(about.Label12->text(), "are written beside the RAW files as NAME.EXT.JPG");
    EXPECT_EQ(about.GroupBox4->title(), "This product is  lisenced to:");
    // Nothing grows that need not: a narrow font keeps the designed size.
    QFont small = about.font();
    small.setPixelSize(8);
    about.setFont(small);
    EXPECT_EQ(about.size(), QSize(377, 371));
    EXPECT_EQ(about.Label12->pos(), QPoint(56, 240));

    QFont large = about.font();
    large.setPixelSize(20);
    about.setFont(large);
    ExpectTextsFit(about, "20-pixel font");
}

TEST(About, EscapeOrReturnClosesIt) {
    FakeRegistry registry;
    TAboutform about;
    for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
        about.Show();
        ASSERT_TRUE(about.isVisible());
        QTest::keyClick(&about, key);
        EXPECT_FALSE(about.isVisible()) << QTest::toString(key);
    }
    EXPECT_EQ(about.SpeedButton2->toolTip().toStdString(), "Close (Escape, Return)");
}

TEST(About, TextsAreTheDescribedOnes) {
    TAboutform about;
    EXPECT_EQ(about.Caption(), "About");
    const std::pair<QString, QString> texts[] = {
        {about.GroupBox2->title(), ""},
        {about.Label4->text(), "Pixavant"},
        {about.Label5->text(), "Version 1.00"},
        {about.GroupBox3->title(), "Support/Contact Details "},
        {about.GroupBox4->title(), "This product is  lisenced to:"},
        {about.SpeedButton2->text(), "OK"},
    };
    for (const auto &[shown, described] : texts)
        EXPECT_EQ(shown, described);
    for (QLabel *notice : {about.Label6, about.Label11, about.Label12, about.Label13})
        EXPECT_FALSE(notice->text().isEmpty());
}

TEST(About, ControlsSitWhereTheLayoutPutsThem) {
    TAboutform about;
    about.Show();
    // At a font narrow enough for every text, nothing moves from its designed place.
    QFont small = about.font();
    small.setPixelSize(8);
    about.setFont(small);
    EXPECT_EQ(about.size(), QSize(377, 371));
    EXPECT_EQ(about.minimumSize(), about.maximumSize()); // not resizable
    struct Place {
        const char *Name;
        QWidget *Control;
        QWidget *Parent;
        QRect Rect; // a zero width or height: that side follows the texts
    };
    const Place places[] = {
        {"GroupBox2", about.GroupBox2, &about, {8, 8, 353, 321}},
        {"Label4", about.Label4, about.GroupBox2, {16, 24, 0, 0}},
        {"Label5", about.Label5, about.GroupBox2, {16, 40, 0, 0}},
        {"Label6", about.Label6, about.GroupBox2, {16, 64, 0, 0}},
        {"GroupBox3", about.GroupBox3, about.GroupBox2, {8, 88, 0, 49}},
        {"Label8", about.Label8, about.GroupBox3, {16, 24, 0, 0}},
        {"GroupBox4", about.GroupBox4, about.GroupBox2, {8, 144, 0, 73}},
        {"Label9", about.Label9, about.GroupBox4, {16, 24, 0, 0}},
        {"Label10", about.Label10, about.GroupBox4, {16, 48, 0, 0}},
        {"Label11", about.Label11, about.GroupBox2, {8, 224, 0, 0}},
        {"Label12", about.Label12, about.GroupBox2, {56, 240, 0, 0}},
        {"Label13", about.Label13, about.GroupBox2, {56, 256, 0, 0}},
        {"SpeedButton2", about.SpeedButton2, about.GroupBox2, {124, 281, 81, 25}},
    };
    for (const Place &p : places) {
        SCOPED_TRACE(p.Name);
        EXPECT_EQ(p.Control->parentWidget(), p.Parent);
        EXPECT_EQ(p.Control->pos(), p.Rect.topLeft());
        if (p.Rect.width() > 0) {
            EXPECT_EQ(p.Control->width(), p.Rect.width());
        }
        if (p.Rect.height() > 0) {
            EXPECT_EQ(p.Control->height(), p.Rect.height());
        }
    }
}

// A frame grown for a wide text leaves as much room right of its widest control as left of it,
// and the window keeps the designed outer margins: 377 - 8 - 353 = 16 right of the box and
// 371 - 8 - 321 = 42 below it.
TEST(About, GrownFramesKeepTheirMarginsOnBothSides) {
    const struct {
        const char *Owner;
        int Pixels; // font size
    } rows[] = {
        {"", 40},                                              // the web address is widest
        {"Ada Lovelace of the Analytical Engine Company", 20}, // the owner is widest
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.Owner);
        FakeRegistry registry;
        registry.values = {{"RegisteredOwner", row.Owner}, {"RegisteredOrganization", ""}};
        TAboutform about;
        about.Show();
        QFont font = about.font();
        font.setPixelSize(row.Pixels);
        // The link keeps a style of its own; a large system font reaches it as well.
        about.Label8->setFont(font);
        about.setFont(font);
        for (QGroupBox *frame : {about.GroupBox3, about.GroupBox4}) {
            int right = 0;
            for (QLabel *label : {about.Label8, about.Label9, about.Label10})
                right =
                    std::max(right, label->mapTo(about.GroupBox2, QPoint(label->width(), 0)).x());
            // Both frames share the width that the widest text of either needs.
            EXPECT_EQ(frame->geometry().right() + 1, right + 16) << frame->title().toStdString();
        }
        int inner = 0;
        for (QObject *o : about.GroupBox2->children())
            if (auto *w = qobject_cast<QWidget *>(o))
                inner = std::max(inner, w->geometry().right() + 1);
        if (inner + 8 > 353) {
            EXPECT_EQ(about.GroupBox2->width(), inner + 8);
        }
        EXPECT_GT(about.GroupBox3->width(), 329); // the rows do grow the frames
        const QLabel *widest = row.Owner[0] ? about.Label9 : about.Label8;
        EXPECT_EQ(about.GroupBox3->width(), widest->geometry().right() + 1 + 16);
        EXPECT_EQ(about.width(), about.GroupBox2->geometry().right() + 1 + 16);
        EXPECT_EQ(about.height(), about.GroupBox2->geometry().bottom() + 1 + 42);
    }
}

TEST(About, TitleAndVersionAreBoldAndLargerThanTheText) {
    TAboutform about;
    about.Show();
    const double body = about.font().pointSizeF();
    for (QLabel *title : {about.Label4, about.Label5}) {
        EXPECT_TRUE(title->font().bold());
        EXPECT_NEAR(title->font().pointSizeF(), body * 13 / 11, 0.01); // height 13 against 11
    }
    EXPECT_FALSE(about.Label6->font().bold());
}

TEST(About, TheLinkOpensTheMakersSite) {
    const QString home = PublishedHomePage();
    ASSERT_FALSE(home.isEmpty());
    // The shell gets the bare host name and opens it as a web page.
    EXPECT_EQ(QStringLiteral("https://") + QString::fromLatin1(TAboutform::WebAddress), home);

    OpenedUrls opened;
    TAboutform about;
    about.Show();
    EXPECT_EQ(about.Label8->text(), home);
    EXPECT_EQ(about.Label8->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_TRUE(about.Label8->font().underline());
    EXPECT_EQ(about.Label8->palette().color(about.Label8->foregroundRole()), QColor(Qt::blue));
    EXPECT_TRUE(opened.Urls.empty());

    QTest::mouseClick(about.Label8, Qt::LeftButton);
    ASSERT_EQ(opened.Urls.size(), 1u);
    EXPECT_EQ(opened.Urls[0], QUrl(home));
    EXPECT_TRUE(about.isVisible()); // the window stays open
}

TEST(About, OkClosesTheWindowAndItOpensAgain) {
    FakeRegistry registry;
    TAboutform about;
    about.Show();
    EXPECT_EQ(about.SpeedButton2->cursor().shape(), Qt::PointingHandCursor);
    QTest::mouseClick(about.SpeedButton2, Qt::LeftButton);
    EXPECT_FALSE(about.isVisible());
    about.Show();
    EXPECT_TRUE(about.isVisible());
}

TEST(About, OpensCentredOnTheMainWindowEveryTime) {
    QWidget main;
    main.show(); // with its frame, as the user sees it
    MainWindowAs asMain(&main);
    TAboutform about;
    // Centres as QRect counts them: left + (width - 1) / 2, top + (height - 1) / 2.
    const struct {
        QRect Main;
        QPoint Centre;
    } cases[] = {
        {{100, 100, 600, 400}, {399, 299}},
        {{300, 50, 801, 601}, {700, 350}},
    };
    for (const auto &c : cases) {
        main.setGeometry(c.Main);
        about.Show();
        EXPECT_EQ(about.geometry().center(), c.Centre);
        about.Close();
    }
}

#include "AboutTest.moc"
