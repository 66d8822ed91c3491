// Test entry: a headless application object, so windows and the event loop can be driven.
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>

#include "Application.h"

int main(int argc, char **argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    TApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
