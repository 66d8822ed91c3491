// The About window reads the registered owner and organisation every time it is shown.
#include <gtest/gtest.h>

#include <map>
#include <optional>

#include "Registry.h"
#include "about.h"

namespace {

struct FakeRegistry {
    std::map<std::string, std::string> values;
    FakeRegistry() {
        SetRegistryValueHookForTesting(
            [this](const std::string &name) -> std::optional<std::string> {
                auto it = values.find(name);
                if (it == values.end())
                    return std::nullopt;
                return it->second;
            });
    }
    ~FakeRegistry() { SetRegistryValueHookForTesting(nullptr); }
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
