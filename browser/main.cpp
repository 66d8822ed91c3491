#include "main.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTimer>
#include <QTreeView>

#include <algorithm>

#include "Application.h"
#include "Dialogs.h"
#include "Exceptions.h"
#include "ExtractOptions.h"
#include "FileSystem.h"
#include "FolderTreeModel.h"
#include "MainKeyboard.h"
#include "RawConverter.h"
#include "RawFormats.h"
#include "RawPreview.h"
#include "ShellApi.h"
#include "ShellUi.h"
#include "ThumbsMain.h"
#include "about.h"
#include "view.h"

TMainForm *MainForm = nullptr;

namespace {

// How long a selection moved with the keys rests before its folder is scanned: longer than the
// pause between presses of a user arrowing past folders, short enough to feel immediate.
constexpr int TreeRestMs = 400;

QString Decode(const std::string &s) {
    return QFile::decodeName(QByteArray::fromStdString(s));
}

std::string Encode(const QString &s) {
    return QFile::encodeName(s).toStdString();
}

} // namespace

TMainForm::TMainForm(QWidget *parent) : TForm(parent) {
    if (!MainForm)
        MainForm = this;
    BuildLayout();
    FormCreate();
    SetUpKeyboard(*this);
    SetUpCulling();
}

TMainForm::~TMainForm() {
    // Its results would reach a window half taken down.
    delete FMetaWorker;
    FMetaWorker = nullptr;
    // The extractor reads this window's list until it ends: stop it and wait for that end,
    // which no longer reaches this window.
    FScan.Close();
    if (FExtractor) {
        FExtractor->AbortAndWait();
        FExtractor = nullptr;
    }
    if (MainForm == this)
        MainForm = nullptr;
}

void TMainForm::FormCreate() {
    SetCaption(Application ? Application->Title() : std::string("Pixavant"));
    setFont(DefaultGuiFont());
    ComboBox1->setCurrentIndex(ComboBox1->count() - 1);
    TagOptionBoxes(CheckBox1, CheckBox2, CheckBox3, CheckBox4, CheckBox5);
    FNotify.Window = Handle();
    FNotify.MsgIconsDone = WM_THUMB_ICONSDONE;
    FNotify.MsgUseImage = WM_THUMB_USEIMAGE;
    FNotify.MsgAddImage = WM_THUMB_ADDIMAGE;
    FNotify.MsgReplaceImage = WM_THUMB_REPLACEIMAGE;
    FNotify.MsgItemStarted = WM_THUMB_ITEMSTARTED;
    ShowStartFolder();
}

void TMainForm::Action1Execute() {
    if (Application)
        Application->Terminate();
}

void TMainForm::Action2Execute() {
    if (Aboutform)
        Aboutform->Show();
}

void TMainForm::CheckBox1Click(QCheckBox *sender) {
    ExcludeAspectAndScreen(sender, CheckBox1, CheckBox3);
}

int TMainForm::PixelFormatBits() const {
    return ColorDepthBits(ComboBox1->currentIndex());
}

unsigned TMainForm::ExtractFlags() const {
    // Only the window's own direct children count; the option boxes sit on PnlTop, so the
    // extractor is asked with no option.
    unsigned flags = 0;
    for (QObject *child : children())
        if (auto *box = qobject_cast<QCheckBox *>(child))
            flags |= CheckedFlags({box});
    return flags;
}

void TMainForm::ShowStartFolder() {
    ComPtr<IMalloc> malloc;
    ComPtr<IShellFolder> desktop;
    if (FAILED(SHGetMalloc(malloc.Put())) || FAILED(SHGetDesktopFolder(desktop.Put())))
        return;
    LPITEMIDLIST pidl = nullptr;
    if (FAILED(desktop->ParseDisplayName(0, nullptr, CSIDL_PERSONAL_NAME, nullptr, &pidl, nullptr)))
        return;
    // A Linux path may be longer than the 260 bytes of a Windows path buffer.
    const std::string path = PathFromIDList(pidl);
    if (!path.empty())
        SetSelFolder(path);
    malloc->Free(pidl);
}

void TMainForm::OpenStartFolder() {
    std::string folder = FSelFolder;
    if (folder.empty() || !explorModel->IndexOf(folder).isValid())
        folder = Encode(QDir::homePath());
    SetTreePath(folder);
}

void TMainForm::SetSelFolder(const std::string &folder) {
    FSelFolder = folder;
    EdSelFolder->setText(Decode(folder));
}

std::string TMainForm::TreePath() const {
    return explorModel->PathOf(explor->currentIndex());
}

void TMainForm::SetTreePath(const std::string &path) {
    const QModelIndex index = explorModel->IndexOf(path);
    if (!index.isValid())
        throw Exception("Error setting path: \"" + path + "\"");
    for (QModelIndex p = index.parent(); p.isValid(); p = p.parent())
        explor->expand(p);
    // Setting the row is not the user's click, so the scan is started here, for the same
    // folder too; from a later turn, so the tree shows the row first.
    explor->setCurrentIndex(index);
    QTimer::singleShot(0, this, [this] { explorChange(); });
    // Once the expanded levels are laid out, so the folder is really brought into view.
    QTimer::singleShot(0, this, [this, index = QPersistentModelIndex(index)] {
        if (index.isValid())
            explor->scrollTo(index);
    });
}

void TMainForm::TreeCurrentChanged(const QModelIndex &current) {
    // The view moves its current row by itself when that row goes (a folder deleted or renamed
    // outside) or the model changes: scanning that neighbour would write thumbnail files into a
    // folder nobody chose.
    if (!explor->UserInput() || explorModel->Changing())
        return;
    // A folder reached with the keys may be one passed on the way: its scan waits until the
    // selection has rested, so that arrowing through the tree writes nothing into the folders
    // passed. A click scans at once.
    FTreeRestTarget = QPersistentModelIndex(current);
    FTreeRest->start(explor->KeyInput() ? TreeRestMs : 0);
}

void TMainForm::TreeRested() {
    // The scan starts from a later turn of the event loop, never inside the tree's own
    // handler: the tree shows the new selection first, and a scan in progress sees the change.
    if (FTreeRestTarget.isValid() && explor->currentIndex() == FTreeRestTarget)
        explorChange();
    FTreeRestTarget = QPersistentModelIndex();
}

void TMainForm::TreeFolderTaken() {
    // Return takes the folder now; a rest still pending is over.
    if (FTreeRest->isActive())
        FTreeRest->start(0);
}

void TMainForm::explorChange() {
    const std::string path = TreePath();
    if (path.empty())
        return; // no folder chosen; "" would read as the root
    SetSelFolder(path);
    BtnRefreshClick();
}

void TMainForm::FolderGone(const std::string &folder) {
    FFolderWatch.Unwatch();
    // The tree drops the folder; the row it moves to by itself is not chosen, so it is cleared
    // and a click on any folder, the neighbour included, is a change again.
    const QPersistentModelIndex before = explor->currentIndex();
    explorModel->Refresh(folder);
    if (before != explor->currentIndex()) {
        explor->selectionModel()->clearSelection();
        explor->selectionModel()->clearCurrentIndex();
    }
    // Once the user has chosen another folder, its scan is on its way.
    if (folder != FSelFolder)
        return;
    if (FScan.State() != TScanState::Idle) {
        FScan.Stop(); // its end shows the folder gone
        return;
    }
    ShowFolderGone(folder);
}

void TMainForm::ShowFolderGone(const std::string &folder) {
    ClearList();
    SetProgressPosition(0);
    ShowStatus("Folder no longer exists");
    ShowCurrentFile(folder);
}

void TMainForm::FormClose() {
    BtnStopClick();
    // Closing the browser ends the program, whatever other window is still open.
    if (Application && Application->MainForm() == this)
        Application->Terminate();
}

void TMainForm::ShowStatus(const std::string &text) {
    PnlStatus->setText(Decode(" " + text));
}

void TMainForm::ShowCurrentFile(const std::string &text) {
    PnlCurFile->setText(Decode(" " + text));
}

// ---------------------------------------------------------------------------------------------
// Thumbnail list updates

void TMainForm::WndProc(TMessage &message) {
    switch (message.Msg) {
    case WM_THUMB_ITEMSTARTED:
        WMItemStarted(int(message.WParam));
        break;
    case WM_THUMB_USEIMAGE:
        WMUseImage(int(message.WParam), int(message.LParam));
        break;
    case WM_THUMB_ADDIMAGE:
        WMAddImage(int(message.WParam), reinterpret_cast<TBitmap *>(message.LParam));
        break;
    case WM_THUMB_REPLACEIMAGE:
        WMReplaceImage(int(message.WParam), reinterpret_cast<TBitmap *>(message.LParam));
        break;
    case WM_THUMB_ICONSDONE:
        WMIconsDone();
        break;
    case WM_RAWFAILURES:
        ReportRawFailures();
        break;
    default:
        break;
    }
}

void TMainForm::WMItemStarted(int item) {
    ShowCurrentFile(ListView->Caption(item));
}

void TMainForm::WMUseImage(int item, int imageIndex) {
    StepProgress(item);
    ListView->SetImageIndex(item, imageIndex);
}

void TMainForm::WMAddImage(int item, TBitmap *bitmap) {
    std::unique_ptr<TBitmap> owned(bitmap); // ours from now on, freed on every path
    StepProgress(item);
    const int index = owned ? ImageList1->AddMasked(*owned, MaskColorByPass[FThumbnailPass]) : -1;
    ListView->SetImageIndex(item, index);
}

void TMainForm::WMReplaceImage(int item, TBitmap *bitmap) {
    std::unique_ptr<TBitmap> owned(bitmap);
    StepProgress(item);
    if (!owned)
        throw EInvalidOperation("Unable to Replace Image");
    ImageList1->Replace(ListView->ImageIndex(item), *owned, clNone);
}

void TMainForm::WMIconsDone() {
    FThumbnailPass = true;
    ShowStatus("Extracting thumbnails");
    ShowCurrentFile("");
    SetProgressPosition(0);
    FScan.IconsDone();
}

void TMainForm::StepProgress(int itemIndex) {
    FProgress.Step(itemIndex, FThumbnailPass);
    ProgressBar1->setValue(FProgress.Position());
}

void TMainForm::SetProgressMax(int max) {
    FProgress.SetMax(max);
    ProgressBar1->setRange(0, std::max(FProgress.Max(), 1));
    ProgressBar1->setValue(FProgress.Position());
}

void TMainForm::SetProgressPosition(int position) {
    FProgress.SetPosition(position);
    ProgressBar1->setValue(FProgress.Position());
}

// ---------------------------------------------------------------------------------------------
// Selection and opening the viewer

std::string PictureForEntry(const std::string &path) {
    static const std::string jpg = ".JPG";
    if (ExtensionKey(path) != jpg)
        return path;
    if (path.size() < jpg.size() || path.compare(path.size() - jpg.size(), jpg.size(), jpg) != 0)
        return path;
    const std::string raw = path.substr(0, path.size() - jpg.size());
    return IsRawFileName(raw) ? raw : path;
}

void TMainForm::ListViewSelectItem(int item, bool) {
    // A list cleared for a new scan loses its selection, but the user selected nothing.
    if (FClearing)
        return;
    const std::string caption = ListView->Caption(item);
    const std::string path = IncludeTrailingPathDelimiter(FSelFolder) + caption;
    FSelectedPicture = PictureForEntry(path);
    Label1->setText(Decode(FSelectedPicture));
    SetCaption("Pixavant - " +
               (FSelectedPicture == path ? caption : ExtractFileName(FSelectedPicture)));
    ShowSelectedInfo();
}

void TMainForm::ListViewDblClick() {
    Button1Click();
}

int TMainForm::SelectedEntry() const {
    return ListView->ItemIndex();
}

int TMainForm::EntryCount() const {
    return ListView->Count();
}

std::string TMainForm::EntryCaption(int index) const {
    return ListView->Caption(index);
}

std::string TMainForm::EntryPicture(int index) const {
    if (index < 0 || index >= ListView->Count())
        return {};
    return PictureForEntry(IncludeTrailingPathDelimiter(FSelFolder) + ListView->Caption(index));
}

void TMainForm::SelectEntry(int index) {
    ListView->SetItemIndex(index);
}

void TMainForm::Button1Click() {
    // Nothing to open without a selected entry.
    if (ListView->ItemIndex() < 0 || !viewForm)
        return;
    viewForm->BtnBrowseClick();
    viewForm->Show();
}
