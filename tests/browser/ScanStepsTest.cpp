// A scan step by step, as the window shows it: after every step the window takes (the scan's
// start, each RAW file done, each message of the extractor, the end) the status, the current
// file, Stop, the progress and the list are checked against the rule of that step. Each scan
// follows a scan of another folder, whose entries must be gone from its very start.
#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QCoreApplication>
#include <QImage>

#include <algorithm>

#include "BrowserFixture.h"
#include "Cr2Writer.h"
#include "main.h"

namespace {

struct TSnapshot {
    UINT Msg; // 0: the scan's start, 1: a RAW file done, 2: the scan's end
    int Item;
    std::string Status, File;
    bool Stop;
    int Position, Max;
    std::vector<std::string> List;
};

enum : UINT { Started = 0, RawDone = 1, Ended = 2 };

// The main window with a record of what it shows after each extractor message.
class TRecordingMain : public TMainForm {
public:
    std::vector<TSnapshot> Steps;
    bool Recording = false;

    void Record(UINT msg, int item = -1) {
        if (!Recording)
            return;
        std::vector<std::string> list;
        for (int i = 0; i < List()->Count(); ++i)
            list.push_back(List()->Caption(i));
        Steps.push_back({msg, item, StatusText().toStdString(), CurrentFileText().toStdString(),
                         StopEnabled(), ProgressPosition(), ProgressMax(), list});
    }

protected:
    void WndProc(TMessage &message) override {
        TMainForm::WndProc(message);
        if (message.Msg >= WM_THUMB_ADDIMAGE && message.Msg <= WM_THUMB_ITEMSTARTED)
            Record(message.Msg, int(message.WParam));
    }
};

void WritePng(const std::string &path) {
    QImage img(40, 30, QImage::Format_RGB32);
    img.fill(qRgb(200, 40, 40));
    img.save(QString::fromStdString(path), "PNG");
}

class ScanSteps : public BrowserTest {
protected:
    void SetUp() override {
        BrowserTest::SetUp();
        Main.reset();
        auto main = std::make_unique<TRecordingMain>();
        Rec = main.get();
        Main = std::move(main);
        MainForm = Main.get();
        // A RAW file is done when its entry arrives; the pass's progress follows it.
        QObject::connect(Main->List()->model(), &QAbstractItemModel::rowsInserted, Main.get(),
                         [this] {
                             if (Main->Scan().State() == TScanState::RawPass)
                                 Rec->Record(RawDone);
                         });
    }

    // Scans a folder of other pictures first, then folder, recording the second scan.
    void Scan(const std::string &folder) {
        testutil::TempDir before;
        for (const char *name : {"old1.png", "old2.png", "old3.png"})
            WritePng(before.file(name));
        ScanAndWait(before.path());
        ASSERT_EQ(Main->List()->Count(), 3);
        Rec->Recording = true;
        Main->SetSelFolder(folder);
        Main->BtnRefreshClick();
        Rec->Record(Started);
        ASSERT_TRUE(testutil::WaitFor([this] { return Idle(); }));
        QCoreApplication::processEvents();
        Rec->Record(Ended);
        Rec->Recording = false;
    }

    TRecordingMain *Rec = nullptr;
};

const std::string IconStatus = " Extracting default icons";
const std::string ThumbStatus = " Extracting thumbnails";

// Checks every step against its rule; raws are the RAW pass's entries (the RAW files' names) in
// pass order, listed what the listing pass shows.
void CheckSteps(const std::vector<TSnapshot> &steps, const std::vector<std::string> &raws,
                const std::vector<std::string> &listed) {
    ASSERT_GE(steps.size(), 3u);
    const int n = int(listed.size());
    bool iconsDone = false;
    int iconSteps = 0;
    std::size_t rawSeen = 0;
    for (std::size_t k = 0; k < steps.size(); ++k) {
        const TSnapshot &s = steps[k];
        SCOPED_TRACE(testing::Message() << "step " << k << ", message " << s.Msg << ", item "
                                        << s.Item << ", status '" << s.Status << "'");
        const bool ended = s.Msg == Ended;
        EXPECT_EQ(s.Stop, !ended);
        switch (s.Msg) {
        case Started:
            // The previous folder's entries are gone at once, whatever runs first.
            EXPECT_EQ(s.Status, IconStatus);
            EXPECT_EQ(s.Position, 0);
            if (raws.empty()) {
                EXPECT_EQ(s.List, listed);
                EXPECT_EQ(s.Max, n);
            } else {
                EXPECT_TRUE(s.List.empty());
                EXPECT_EQ(s.Max, int(raws.size()));
                EXPECT_EQ(s.File, " " + raws[0] + " (1 of " + std::to_string(raws.size()) + ")");
            }
            break;
        case RawDone:
            // Only the new folder's RAW entries, in pass order.
            ++rawSeen;
            EXPECT_EQ(s.Status, IconStatus);
            EXPECT_EQ(s.Max, int(raws.size()));
            EXPECT_EQ(s.List, std::vector<std::string>(raws.begin(), raws.begin() + rawSeen));
            // Taken as the entry arrives: the bar and the file name still show this file.
            EXPECT_EQ(s.Position, int(rawSeen) - 1);
            EXPECT_EQ(s.File, " " + raws[rawSeen - 1] + " (" + std::to_string(rawSeen) + " of " +
                                  std::to_string(raws.size()) + ")");
            break;
        case WM_THUMB_ITEMSTARTED:
            EXPECT_EQ(s.Status, iconsDone ? ThumbStatus : IconStatus);
            ASSERT_GE(s.Item, 0);
            ASSERT_LT(s.Item, n);
            EXPECT_EQ(s.File, " " + listed[std::size_t(s.Item)]);
            EXPECT_EQ(s.List, listed);
            EXPECT_EQ(s.Max, n);
            break;
        case WM_THUMB_ADDIMAGE:
        case WM_THUMB_USEIMAGE:
        case WM_THUMB_REPLACEIMAGE:
            EXPECT_EQ(s.Status, iconsDone ? ThumbStatus : IconStatus);
            EXPECT_EQ(s.List, listed);
            // The icon pass steps the bar once per item, the thumbnail pass sets it.
            EXPECT_EQ(s.Position, iconsDone ? s.Item + 1 : ++iconSteps);
            if (s.Msg != WM_THUMB_ADDIMAGE) {
                EXPECT_EQ(iconsDone, s.Msg == WM_THUMB_REPLACEIMAGE); // a pass of its own
            }
            break;
        case WM_THUMB_ICONSDONE:
            iconsDone = true;
            EXPECT_EQ(iconSteps, n);
            EXPECT_EQ(s.Status, ThumbStatus);
            EXPECT_EQ(s.File, " ");
            EXPECT_EQ(s.Position, 0);
            EXPECT_EQ(s.List, listed);
            break;
        case Ended:
            EXPECT_TRUE(iconsDone);
            EXPECT_EQ(s.Status, " Ready");
            EXPECT_EQ(s.File, " ");
            EXPECT_EQ(s.Position, 0);
            EXPECT_EQ(s.List, listed);
            break;
        default:
            ADD_FAILURE() << "unexpected message";
        }
    }
    EXPECT_EQ(rawSeen, raws.size());
    EXPECT_EQ(steps.front().Msg, UINT(Started));
    EXPECT_EQ(steps.back().Msg, UINT(Ended));
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

} // namespace

TEST_F(ScanSteps, APictureFolderFromStartToEnd) {
    testutil::TempDir dir;
    for (const char *name : {"a.png", "b.png", "c.png", "d.png"})
        WritePng(dir.file(name));
    Scan(dir.path());
    CheckSteps(Rec->Steps, {}, Rec->Steps.back().List);
    EXPECT_EQ(Sorted(Rec->Steps.back().List),
              (std::vector<std::string>{"a.png", "b.png", "c.png", "d.png"}));
}

TEST_F(ScanSteps, ARawFolderFromStartToEnd) {
    testutil::TempDir dir;
    cr2::Cr2Options options;
    options.PreviewJpeg = cr2::EncodeJpeg(cr2::QuarterPicture(300, 200));
    for (const char *name : {"IMG_1.CR2", "IMG_2.CR2", "IMG_3.CR2"})
        cr2::WriteCr2(dir.file(name), options);
    WritePng(dir.file("z.png"));
    Scan(dir.path());
    std::vector<std::string> raws;
    for (const TSnapshot &s : Rec->Steps)
        if (s.Msg == RawDone)
            raws = s.List;
    EXPECT_EQ(Sorted(raws), (std::vector<std::string>{"IMG_1.CR2", "IMG_2.CR2", "IMG_3.CR2"}));
    CheckSteps(Rec->Steps, raws, Rec->Steps.back().List);
    EXPECT_EQ(
        Sorted(Rec->Steps.back().List),
        (std::vector<std::string>{"IMG_1.CR2.JPG", "IMG_2.CR2.JPG", "IMG_3.CR2.JPG", "z.png"}));
}
