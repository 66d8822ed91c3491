// The owner's name shown in the About box, taken from the user's account entry.
#include <gtest/gtest.h>

#include "Registry.h"

TEST(Registry, TheOwnerIsTheFullNameElseTheLoginNameElseTheEnvironmentsUser) {
    struct Row {
        const char *Gecos, *Login, *User;
        std::optional<std::string> Owner;
    };
    const Row rows[] = {
        // The GECOS field holds the full name, then room, phones and other, comma-separated.
        {"Ada Lovelace,Room 12,555-0100,,", "ada", "x", "Ada Lovelace"},
        {"Ada Lovelace", "ada", "x", "Ada Lovelace"},
        {",Room 12,,", "ada", "x", "ada"},
        {"", "ada", "x", "ada"},
        {nullptr, "ada", "x", "ada"},
        {"", "", "x", "x"},
        {nullptr, nullptr, "x", "x"},
        {"", "", nullptr, std::nullopt},
        {nullptr, nullptr, nullptr, std::nullopt},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.Gecos ? row.Gecos : "(null)") + " / " +
                     (row.Login ? row.Login : "(null)"));
        EXPECT_EQ(OwnerName(row.Gecos, row.Login, row.User), row.Owner);
    }
}
