#include "BrowserFixture.h"

#include <QCoreApplication>
#include <QTest>

#include <cstdlib>
#include <sys/stat.h>

#include "Application.h"
#include "Dialogs.h"
#include "FolderTreeModel.h"
#include "Thread.h"
#include "ThumbsMain.h"
#include "about.h"
#include "main.h"

namespace {
// XDG_DATA_HOME holds the trash.
const char *const Vars[] = {"XDG_RUNTIME_DIR", "XDG_CACHE_HOME", "XDG_DATA_HOME"};
} // namespace

void BrowserTest::SetUp() {
    FHome = std::make_unique<testutil::TempDir>();
    for (const char *var : Vars) {
        const char *old = std::getenv(var);
        SavedEnv.push_back(old ? old : "");
        const std::string dir = FHome->file(var);
        ::mkdir(dir.c_str(), 0700);
        setenv(var, dir.c_str(), 1);
    }
    FServices = testutil::ChangeServices([this](TPlatformServices &s) {
        s.MessageBox = [this](HWND, const std::string &text, const std::string &, UINT) {
            Boxes.push_back(text);
            return IDOK;
        };
    });
    Application->SetTitle("Pixavant");
    Main = std::make_unique<TMainForm>();
    Thumbs = std::make_unique<TthumbForm1>();
    About = std::make_unique<TAboutform>();
    MainForm = Main.get();
    thumbForm1 = Thumbs.get();
    Aboutform = About.get();
}

void BrowserTest::TearDown() {
    if (Main)
        Main->BtnStopClick();
    TThread::WaitForAll();
    QCoreApplication::processEvents();
    thumbForm1 = nullptr;
    Aboutform = nullptr;
    About.reset();
    Thumbs.reset();
    Main.reset();
    FServices.reset();
    for (std::size_t i = 0; i < SavedEnv.size(); ++i) {
        if (SavedEnv[i].empty())
            unsetenv(Vars[i]);
        else
            setenv(Vars[i], SavedEnv[i].c_str(), 1);
    }
}

bool BrowserTest::Idle() const {
    return !Main->Extractor() && !Main->RestartPending() && Main->StatusText() == " Ready";
}

void BrowserTest::ScanAndWait(const std::string &folder) {
    Main->SetSelFolder(folder);
    Main->BtnRefreshClick();
    ASSERT_TRUE(testutil::WaitFor([this] { return Idle(); }));
    QCoreApplication::processEvents();
}

std::vector<std::string> BrowserTest::Captions() const {
    std::vector<std::string> captions;
    for (int i = 0; i < Main->List()->Count(); ++i)
        captions.push_back(Main->List()->Caption(i));
    return captions;
}

std::string BrowserTest::Status() const {
    return Main->StatusText().toStdString();
}

void BrowserTest::ClickFolder(const std::string &path) {
    const QModelIndex index = Main->TreeModel()->IndexOf(path);
    ASSERT_TRUE(index.isValid()) << path;
    for (QModelIndex p = index.parent(); p.isValid(); p = p.parent())
        Main->Tree()->expand(p);
    Main->Tree()->scrollTo(index);
    QCoreApplication::processEvents();
    const QRect rect = Main->Tree()->visualRect(index);
    ASSERT_TRUE(Main->Tree()->viewport()->rect().contains(rect.center())) << path;
    QTest::mouseClick(Main->Tree()->viewport(), Qt::LeftButton, {}, rect.center());
}

void BrowserTest::ClickAndWait(const std::string &path) {
    const int scans = Main->ScanCount();
    ClickFolder(path);
    ASSERT_TRUE(testutil::WaitFor([&] { return Main->ScanCount() > scans && Idle(); }));
    QCoreApplication::processEvents();
}
