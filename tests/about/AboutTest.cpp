// The About window reads the registered owner and organisation every time it is shown.
#include <gtest/gtest.h>

#include <QTest>

#include <map>
#include <optional>

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

} // namespace

TEST(About, LabelsComeFromTheRegistryOnEveryShow) {
    FakeRegistry registry;
    registry.values = {{"RegisteredOwner", "Ada Lovelace"},
                       {"RegisteredOrganization", "Analytical"}};
    TAboutform about;
    EXPECT_EQ(about.Caption(), "About");
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
    EXPECT_EQ(about.Label12->text(), "are written beside the RAW files as NAME.CR2.JPG");
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
