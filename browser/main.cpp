#include "main.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileSystemModel>

#include <algorithm>

#include "Application.h"
#include "Dialogs.h"
#include "Exceptions.h"
#include "FileSystem.h"
#include "RawPreview.h"
#include "ShellApi.h"
#include "ShellUi.h"
#include "ThumbsMain.h"
#include "about.h"
#include "view.h"

TMainForm *MainForm = nullptr;

namespace {

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
}

TMainForm::~TMainForm() {
    if (MainForm == this)
        MainForm = nullptr;
}

void TMainForm::FormCreate() {
    SetCaption(Application ? Application->Title() : std::string("Pixavant"));
    setFont(DefaultGuiFont());
    ComboBox1->setCurrentIndex(ComboBox1->count() - 1);
    SetTag(CheckBox1, 4);
    SetTag(CheckBox2, 8);
    SetTag(CheckBox3, 32);
    SetTag(CheckBox4, 512);
    SetTag(CheckBox5, 64);
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
    if (!sender->isChecked())
        return;
    if (Tag(sender) == 4)
        CheckBox3->setChecked(false);
    if (Tag(sender) == 32)
        CheckBox1->setChecked(false);
}

int TMainForm::PixelFormatBits() const {
    switch (ComboBox1->currentIndex()) {
    case 0:
        return 4;
    case 1:
        return 8;
    case 2:
        return 16;
    case 3:
        return 24;
    default:
        return 32;
    }
}

unsigned TMainForm::ExtractFlags() const {
    // Only the window's own direct children count; the option boxes sit on PnlTop, so the
    // extractor is asked with no option.
    unsigned flags = 0;
    for (QObject *child : children())
        if (auto *box = qobject_cast<QCheckBox *>(child); box && box->isChecked())
            flags |= unsigned(Tag(box));
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
    char *buffer = static_cast<char *>(malloc->Alloc(MAX_PATH));
    if (buffer) {
        if (SHGetPathFromIDListA(pidl, buffer))
            EdSelFolder->setText(Decode(buffer));
    }
    malloc->Free(pidl);
    malloc->Free(buffer);
}

void TMainForm::OpenStartFolder() {
    std::string folder = Encode(EdSelFolder->text());
    if (folder.empty() || !QDir(Decode(folder)).exists())
        folder = Encode(QDir::homePath());
    SetTreePath(folder);
}

std::string TMainForm::TreePath() const {
    const QModelIndex index = explor->currentIndex();
    return index.isValid() ? Encode(explorModel->filePath(index)) : std::string();
}

void TMainForm::SetTreePath(const std::string &path) {
    const QModelIndex index = explorModel->index(Decode(path));
    if (!index.isValid())
        throw Exception("Error setting path: \"" + path + "\"");
    for (QModelIndex p = index.parent(); p.isValid(); p = p.parent())
        explor->expand(p);
    if (explor->currentIndex() == index)
        explorChange(); // the same folder again still rescans, as a new selection would
    else
        explor->setCurrentIndex(index);
    explor->scrollTo(index);
}

void TMainForm::explorChange() {
    EdSelFolder->setText(Decode(TreePath()));
    BtnRefreshClick();
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
// Folder scan

namespace {

const char *const ListedExtensions[] = {".PNG", ".WMF", ".TIF", ".GIF", ".BMP", ".JPG"};

bool IsListed(const std::string &name) {
    const std::string key = ExtensionKey(name);
    for (const char *ext : ListedExtensions)
        if (key == ext)
            return true;
    return false;
}

std::string JoinPath(const std::string &folder, const std::string &name) {
    return IncludeTrailingPathDelimiter(folder) + name;
}

int BrowseCallback(HWND window, UINT message, LPARAM, LPARAM data) {
    if (data != 0 && message == BFFM_INITIALIZED)
        SendMessageA(window, BFFM_SETSELECTIONA, 1, data);
    return 0;
}

} // namespace

const TColor MaskColorByPass[2] = {clWindow, clNone};

void TMainForm::BtnBrowseClick() {
    std::string path;
    if (!BrowseForFolder(Encode(EdSelFolder->text()), path))
        return;
    EdSelFolder->setText(Decode(path));
    // Selecting the folder in the tree scans it (once), like any other tree selection.
    SetTreePath(path);
}

bool TMainForm::BrowseForFolder(const std::string &initial, std::string &path) {
    ComPtr<IMalloc> malloc;
    if (FAILED(SHGetMalloc(malloc.Put())))
        return false;
    char *buffer = static_cast<char *>(malloc->Alloc(MAX_PATH));
    if (!buffer)
        return false;
    buffer[0] = 0;
    BROWSEINFOA info{};
    info.hwndOwner = MainForm ? MainForm->Handle() : 0;
    info.pszDisplayName = buffer;
    if (!initial.empty()) {
        info.lpfn = BrowseCallback;
        info.lParam = reinterpret_cast<LPARAM>(initial.c_str());
    }
    info.lpszTitle = "Choose a folder to view its content in Thumbnail Mode.";
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    LPITEMIDLIST pidl = SHBrowseForFolderA(&info);
    const bool chosen = pidl != nullptr;
    if (chosen) {
        path = PathFromIDList(pidl);
        malloc->Free(pidl);
    }
    malloc->Free(buffer);
    return chosen;
}

void TMainForm::BtnRefreshClick() {
    if (FExtractor) {
        FRestartPending = true;
        FExtractor->Abort();
    } else if (FScanning) {
        // A change that arrives during the RAW pass: rescan the folder shown by then, after it.
        FRestartPending = true;
    } else {
        StartScan();
    }
}

void TMainForm::WMRescan() {
    BtnRefreshClick();
}

void TMainForm::StartScan() {
    ++FScanCount;
    SetProgressPosition(0);
    FThumbnailPass = false;
    BtnStop->setEnabled(true);
    ShowStatus("Extracting default icons");
    ScanFolder(Encode(EdSelFolder->text()));
}

void TMainForm::ScanFolder(const std::string &folder) {
    FScanning = true;
    FStopRequested = false;
    ListView->BeginUpdate();
    try {
        ListView->Clear();
        ImageList1->Clear();
        const bool foundRaw = ConvertRawFiles(folder);
        if (FStopRequested || FRestartPending) {
            // Stopped or superseded during the RAW pass: no listing; the completion step
            // restarts when asked to.
            ListView->Clear();
            ExtractorDone();
        } else {
            ListFolder(foundRaw ? folder : Encode(EdSelFolder->text()));
        }
    } catch (...) {
        ListView->EndUpdate();
        FScanning = false;
        throw;
    }
    ListView->EndUpdate();
    FScanning = false;
    if (!FRawFailures.empty())
        PostMessageA(Handle(), WM_RAWFAILURES, 0, 0);
}

bool TMainForm::ConvertRawFiles(const std::string &folder) {
    FRawFailures.clear();
    TFileSearch search;
    if (!search.FindFirst(JoinPath(folder, "*.CR2"), faHidden | faArchive))
        return false;
    do {
        const std::string name = search.Current().Name;
        if (ExtensionKey(name) != ".CR2")
            continue;
        ListView->AddItem(name, -1);
        CurrentRawPath = JoinPath(folder, name);
        CurrentFolder = folder;
        CurrentFile = CurrentRawPath;
        // One bad RAW file must not keep the folder from being listed: it gets no new
        // thumbnail, and the failures are reported together once the listing has started.
        try {
            if (!thumbForm1)
                throw Exception("The thumbnail creator is not available");
            if (!convertraw()) {
                FRawFailures.emplace_back(name, "no preview picture could be extracted");
                continue;
            }
            thumbForm1->LoadButtonClick();
            thumbForm1->CreateButtonClick();
        } catch (const std::exception &e) {
            FRawFailures.emplace_back(name, e.what());
        }
    } while (!FStopRequested && search.FindNext());
    return true;
}

bool TMainForm::convertraw() {
    return ExtractPreviewToTemp(CurrentRawPath, TempPreview::Scan);
}

void TMainForm::ListFolder(const std::string &folder) {
    ListView->BeginUpdate();
    ListView->Clear();
    ImageList1->Clear();
    TFileSearch search;
    if (!search.FindFirst(JoinPath(folder, "*.*"), faHidden | faArchive)) {
        ListView->EndUpdate();
        ExtractorDone();
        return;
    }
    do {
        const std::string &name = search.Current().Name;
        if (IsListed(name))
            ListView->AddItem(name, -1);
    } while (search.FindNext());
    search.FindClose();
    SetProgressMax(ListView->Count());

    TThumbnailExtractorThread *extractor;
    try {
        extractor = new TThumbnailExtractorThread(FNotify, folder, ListView, ImageList1->Width(),
                                                  ImageList1->Height(), unsigned(PixelFormatBits()),
                                                  ExtractFlags());
    } catch (...) {
        ListView->EndUpdate();
        throw;
    }
    FListUpdateOpen = true; // ended by WMIconsDone, or by ExtractorDone after a failed run
    FExtractor = extractor;
    extractor->OnTerminate = [this](TThread *) { ExtractorDone(); };
    extractor->Resume();
}

void TMainForm::ExtractorDone() {
    FExtractor = nullptr;
    ShowCurrentFile("");
    SetProgressPosition(0);
    ShowStatus("Ready");
    BtnStop->setEnabled(false);
    if (FListUpdateOpen) {
        FListUpdateOpen = false;
        ListView->EndUpdate();
    }
    if (FRestartPending) {
        FRestartPending = false;
        PostMessageA(Handle(), WM_RESCAN, 0, 0);
    }
}

void TMainForm::BtnStopClick() {
    BtnStop->setEnabled(false);
    if (FScanning) {
        FStopRequested = true;
        FRestartPending = false;
    }
    if (FExtractor) {
        ShowStatus("Aborting. Please wait...");
        FRestartPending = false;
        FExtractor->Abort();
    }
}

void TMainForm::ReportRawFailures() {
    if (FRawFailures.empty())
        return;
    std::string text = "These RAW files got no new thumbnail:\n";
    const std::size_t shown = std::min<std::size_t>(FRawFailures.size(), 20);
    for (std::size_t i = 0; i < shown; ++i)
        text += "\n" + FRawFailures[i].first + ": " + FRawFailures[i].second;
    if (FRawFailures.size() > shown)
        text += "\n... and " + std::to_string(FRawFailures.size() - shown) + " more";
    FRawFailures.clear();
    MessageBoxA(Handle(), text, Application ? Application->Title() : "Pixavant",
                MB_OK | MB_ICONWARNING);
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
    case WM_RESCAN:
        WMRescan();
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
    if (FListUpdateOpen) {
        FListUpdateOpen = false;
        ListView->EndUpdate();
    }
}

void TMainForm::StepProgress(int itemIndex) {
    if (FThumbnailPass) {
        SetProgressPosition(itemIndex + 1);
    } else {
        // The native step starts again from the minimum when it would pass the maximum.
        const int next = FProgressPosition + 1;
        SetProgressPosition(next > FProgressMax ? 0 : next);
    }
}

void TMainForm::SetProgressMax(int max) {
    FProgressMax = std::max(max, 0);
    FProgressPosition = std::min(FProgressPosition, FProgressMax);
    ProgressBar1->setRange(0, std::max(FProgressMax, 1));
    ProgressBar1->setValue(FProgressPosition);
}

void TMainForm::SetProgressPosition(int position) {
    FProgressPosition = std::clamp(position, 0, FProgressMax);
    ProgressBar1->setValue(FProgressPosition);
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
    return ExtensionKey(raw) == ".CR2" ? raw : path;
}

void TMainForm::ListViewSelectItem(int item, bool) {
    const std::string caption = ListView->Caption(item);
    const std::string path = JoinPath(Encode(EdSelFolder->text()), caption);
    const std::string picture = PictureForEntry(path);
    Label1->setText(Decode(picture));
    SetCaption("Pixavant - " + (picture == path ? caption : ExtractFileName(picture)));
}

void TMainForm::ListViewDblClick() {
    Button1Click();
}

void TMainForm::Button1Click() {
    // Nothing to open without a selected entry.
    if (ListView->ItemIndex() < 0 || !viewForm)
        return;
    viewForm->BtnBrowseClick();
    viewForm->Show();
}
