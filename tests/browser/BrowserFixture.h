// A main window with the windows it drives, in private temporary and cache folders, with
// message boxes recorded instead of shown.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "TestUtil.h"
#include "ThumbsMain.h"
#include "about.h"
#include "main.h"

class BrowserTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Scans a folder as a tree selection would and waits until the run has ended.
    void ScanAndWait(const std::string &folder);
    // A mouse click on the folder's row of the tree, as the user makes it; the second also
    // waits until the scan it starts has ended.
    void ClickFolder(const std::string &path);
    void ClickAndWait(const std::string &path);
    bool Idle() const;
    std::vector<std::string> Captions() const;
    std::string Status() const;

    std::unique_ptr<testutil::TempDir> FHome;
    std::unique_ptr<TServicesScope> FServices;
    std::unique_ptr<TMainForm> Main;
    std::unique_ptr<TthumbForm1> Thumbs;
    std::unique_ptr<TAboutform> About;
    std::vector<std::string> Boxes;
    std::vector<std::string> SavedEnv;
};
