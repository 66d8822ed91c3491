// The browser window: folder tree, thumbnail list, folder field, status line and menu. It runs
// the folder scan, takes the extractor thread's messages and opens the viewer.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeView>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ExtractImageThread.h"
#include "FolderTreeView.h"
#include "FolderWatch.h"
#include "Forms.h"
#include "GridOrder.h"
#include "ListView.h"
#include "Marks.h"
#include "MetaWorker.h"
#include "RawFailureReport.h"
#include "ScanController.h"
#include "ScanProgress.h"
#include "Trash.h"
#include "ViewerBrowser.h"

class TFolderTreeModel;
class QFrame;
class QAction;
class QTimer;

constexpr UINT WM_THUMB_ADDIMAGE = WM_USER + 102;     // 1126
constexpr UINT WM_THUMB_ICONSDONE = WM_USER + 104;    // 1128
constexpr UINT WM_THUMB_USEIMAGE = WM_USER + 105;     // 1129
constexpr UINT WM_THUMB_REPLACEIMAGE = WM_USER + 106; // 1130
constexpr UINT WM_THUMB_ITEMSTARTED = WM_USER + 107;  // 1131

class TRawConverter;

class TMainForm : public TForm, public IViewerBrowser, private IScanView {
    Q_OBJECT
public:
    explicit TMainForm(QWidget *parent = nullptr);
    ~TMainForm() override;

    // What the viewer, the command line and the tests reach; the other controls are found by
    // their names (objectName), as on the window.
    TListView *List() const { return ListView; }
    TFolderTreeView *Tree() const { return explor; }
    TFolderTreeModel *TreeModel() const { return explorModel; }
    TImageList *Images() const { return ImageList1.get(); }
    QString StatusText() const { return PnlStatus->text(); }
    QString CurrentFileText() const { return PnlCurFile->text(); }
    QString FolderText() const { return EdSelFolder->text(); }
    QString SelectedText() const { return Label1->text(); } // the selected picture's path
    bool StopEnabled() const { return BtnStop->isEnabled(); }

    // Start-up and menu.
    void FormCreate();
    void Action1Execute();
    void Action2Execute();
    void CheckBox1Click(QCheckBox *sender);
    int PixelFormatBits() const;
    unsigned ExtractFlags() const;
    void ShowStartFolder();
    // Selects the start folder in the tree (documents, else home) and scans it. Called once
    // every window exists.
    void OpenStartFolder();

    // The folder of the scans, as bytes; EdSelFolder shows it readably.
    const std::string &SelFolder() const { return FSelFolder; }
    void SetSelFolder(const std::string &folder);

    // Folder scan.
    void explorChange();
    void BtnBrowseClick();
    void BtnRefreshClick();
    void BtnStopClick();
    void ExtractorDone();
    void ShowStatus(const std::string &text);
    void ShowCurrentFile(const std::string &text);
    static bool BrowseForFolder(const std::string &initial, std::string &path);

    // Selection and opening the viewer.
    void ListViewSelectItem(int item, bool selected);
    void ListViewDblClick();
    void Button1Click();

    // The tree's path for a folder, and setting it (raises "Error setting path: "%s""), which
    // scans it from a later turn of the event loop.
    std::string TreePath() const;
    void SetTreePath(const std::string &path);

    // The window's side of the extractor's messages.
    void WMItemStarted(int item);
    void WMUseImage(int item, int imageIndex);
    void WMAddImage(int item, TBitmap *bitmap);
    void WMReplaceImage(int item, TBitmap *bitmap);
    void WMIconsDone();
    void StepProgress(int itemIndex);

    // The progress bar's logical state (the bar itself cannot show a maximum of 0).
    int ProgressPosition() const { return FProgress.Position(); }
    int ProgressMax() const { return FProgress.Max(); }
    void SetProgressMax(int max);
    void SetProgressPosition(int position);

    // State, for the window's own handlers and tests.
    bool ThumbnailPass() const { return FThumbnailPass; }
    bool RestartPending() const { return FScan.RestartPending(); }
    TThumbnailExtractorThread *Extractor() const { return FExtractor; }
    int ScanCount() const { return FScan.ScanCount(); }
    const TScanController &Scan() const { return FScan; }
    const TThumbnailExtractorNotify &Notify() const { return FNotify; }

    // What the viewer shares.
    int SelectedEntry() const override;
    int EntryCount() const override;
    std::string EntryCaption(int index) const override;
    void SelectEntry(int index) override;
    std::string SelectedPicture() const override { return FSelectedPicture; }
    std::string EntryPicture(int index) const override;

    // Culling (MainCulling.cpp): marks, shooting information and the trash.
    void MarkEntry(int index, char key);
    void MarkSelected(char key) override;
    std::string SelectedMarksText() const override;
    int DeleteSelected() override;
    bool UndoDelete() override;
    // From the View menu: a RAW file and a JPEG of the same name are one photo, which Delete
    // takes to the trash together. Off by default.
    void SetPairsAsOne(bool on) { FPairsAsOne = on; }
    bool ShootingInfoShown() const override { return FShowInfo; }
    void SetShootingInfoShown(bool shown) override;
    // True while marks or shooting information are being read.
    bool MetaBusy() const;

    // What the grid shows and in what order (MainOrder.cpp), from the View menu.
    void SetFilter(const TGridFilter &filter);
    void SetSort(TSortKey key, bool descending);
    bool EntryShown(int index) const override;

protected:
    void WndProc(TMessage &message) override;
    void FormClose() override;

private:
    friend void SetUpKeyboard(TMainForm &form); // the window's own keyboard set-up

    // Components, named as on the window.
    QFrame *PnlBtm;
    QLabel *PnlStatus;
    QLabel *PnlCurFile;
    QProgressBar *ProgressBar1;
    TFolderTreeView *explor;
    TFolderTreeModel *explorModel;
    TListView *ListView;
    QFrame *PnlTop;
    QWidget *CoolBar1;
    QMenuBar *ActionMainMenuBar1;
    QFrame *Panel1;
    QLineEdit *EdSelFolder;
    QPushButton *BtnBrowse;
    std::unique_ptr<TImageList> ImageList1;
    QAction *Action1;
    QAction *Action2;
    QLabel *Label2;
    QComboBox *ComboBox1;
    QLabel *Label3;
    QCheckBox *CheckBox1;
    QCheckBox *CheckBox2;
    QCheckBox *CheckBox3;
    QCheckBox *CheckBox4;
    QCheckBox *CheckBox5;
    QPushButton *BtnStop;
    QPushButton *BtnRefresh;
    QLabel *Label1;
    QPushButton *Button1;

    void BuildLayout();
    void ClearList();
    // The tree's current row changed: a scan only when the user's own click or key moved it.
    void TreeCurrentChanged(const QModelIndex &current);
    void TreeRested();
    void TreeFolderTaken();
    // The folder shown is gone (deleted or renamed outside): the tree drops it, a scan of it
    // stops, and the list is empty with a status that says so. No other folder is scanned.
    void FolderGone(const std::string &folder);
    void ShowFolderGone(const std::string &folder);
    void ReportRawFailures();
    void SetUpCulling();
    // Reads the marks of every listed entry off this thread; the grid shows them as they come.
    void ReadListMarks();
    void ShowSelectedInfo();
    void SetUpViewMenu();
    void ApplyFilter();
    void ApplySort();

    // The scan's side of the window.
    void BeginListUpdate() override;
    void EndListUpdate() override;
    std::string FolderShown() const override { return FSelFolder; }
    void ScanStarted(const std::string &folder) override;
    std::vector<std::string> RawFiles(const std::string &folder) override;
    void StartRawPass(const std::string &folder, const std::vector<std::string> &names) override;
    void StopRawPass() override;
    void RawPassEnded(const std::string &folder, bool complete) override;
    bool StartListing(const std::string &folder) override;
    void AbortExtractor() override;
    void ShowAborting() override;
    void ScanEnded() override;
    void Queue(std::function<void()> call) override;

    bool FThumbnailPass = false;
    TThumbnailExtractorNotify FNotify{};
    TThumbnailExtractorThread *FExtractor = nullptr;
    TScanController FScan{*this};
    std::string FSelFolder;
    // The folder of the latest scan, watched so that its going is noticed.
    TFolderWatch FFolderWatch{[this](const std::string &folder) { FolderGone(folder); }};
    std::string FSelectedPicture;
    // Set while the window clears its list: that deselection is no user's.
    bool FClearing = false;
    TScanProgress FProgress;
    // A keyboard move of the tree's selection, waiting to rest before its folder is scanned.
    QTimer *FTreeRest = nullptr;
    QPersistentModelIndex FTreeRestTarget;
    TRawFailureReport FRawReport;
    // The RAW pass's workers; destroying it waits for the files in hand.
    std::unique_ptr<TRawConverter> FRawConverter;
    std::vector<std::string> FRawNames;
    bool FShowInfo = false;
    TGridFilter FFilter;
    TSortKey FSortKey = TSortKey::Name;
    bool FSortDescending = false;
    TMetaWorker *FMetaWorker = nullptr;
    bool FPairsAsOne = false;
    // One deletion: its entries (two for a pair), where they stood, and the files the trash
    // holds for them.
    struct TDeletedEntry {
        int Index = 0;
        std::string Caption;
        int ImageIndex = -1;
        int NameOrder = 0;
        std::optional<TMarks> Marks;
    };
    struct TDeletion {
        std::string Folder;
        std::vector<TDeletedEntry> Entries; // by ascending place in the list
        std::string Chosen;                 // the caption of the entry the user deleted
        int Scan = 0;                       // the scan whose list and images it left
        std::vector<TTrashedFile> Files;
    };
    std::vector<TDeletion> FDeletions; // the last one is undone first
};

constexpr UINT WM_RAWFAILURES = WM_USER + 52;

// The mask colour by pass: icons are keyed on the window colour, thumbnails are opaque.
extern const TColor MaskColorByPass[2];

// The picture a list entry stands for: a thumbnail file NAME.EXT.JPG of a RAW file leads back
// to NAME.EXT (only the final ".JPG" is removed); any other path stays as it is.
std::string PictureForEntry(const std::string &path);
// True when a file of that name is listed: its extension is one of the listed pictures'.
bool IsListedName(const std::string &name);

extern TMainForm *MainForm;
