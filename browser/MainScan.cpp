// The main window's side of the folder scan: the RAW pass's file step, the listing pass, the
// extractor's start and end, Stop, Refresh and the folder dialog. The scan's state is the
// controller's (ScanController.h).
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <unistd.h>

#include "Application.h"
#include "Dialogs.h"
#include "Exceptions.h"
#include "FileSystem.h"
#include "FolderTreeModel.h"
#include "RawConverter.h"
#include "RawFormats.h"
#include "RawPreview.h"
#include "ShellApi.h"
#include "ShellUi.h"
#include "ThumbsMain.h"
#include "main.h"
#include "view.h"

namespace {

const char *const ListedExtensions[] = {".PNG", ".WMF", ".TIF", ".GIF", ".BMP", ".JPG"};

std::string JoinPath(const std::string &folder, const std::string &name) {
    return IncludeTrailingPathDelimiter(folder) + name;
}

int BrowseCallback(HWND window, UINT message, LPARAM, LPARAM data) {
    if (data != 0 && message == BFFM_INITIALIZED)
        SendMessageA(window, BFFM_SETSELECTIONA, 1, data);
    return 0;
}

} // namespace

bool IsListedName(const std::string &name) {
    const std::string key = ExtensionKey(name);
    for (const char *ext : ListedExtensions)
        if (key == ext)
            return true;
    return false;
}

const TColor MaskColorByPass[2] = {clWindow, clNone};

void TMainForm::BtnBrowseClick() {
    std::string path;
    if (!BrowseForFolder(FSelFolder, path))
        return;
    SetSelFolder(path);
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
    FScan.Refresh();
}

void TMainForm::BtnStopClick() {
    BtnStop->setEnabled(false);
    FScan.Stop();
}

void TMainForm::ClearList() {
    FClearing = true;
    ListView->Clear();
    FClearing = false;
    ImageList1->Clear();
}

void TMainForm::BeginListUpdate() {
    ListView->BeginUpdate();
}

void TMainForm::EndListUpdate() {
    ListView->EndUpdate();
}

void TMainForm::Queue(std::function<void()> call) {
    QTimer::singleShot(0, this, std::move(call));
}

void TMainForm::ScanStarted(const std::string &folder) {
    FFolderWatch.Watch(folder);
    SetProgressPosition(0);
    FThumbnailPass = false;
    BtnStop->setEnabled(true);
    ShowStatus("Extracting default icons");
    FRawReport.Begin();
    ClearList();
    if (viewForm)
        viewForm->BrowserFolder(folder);
}

std::vector<std::string> TMainForm::RawFiles(const std::string &folder) {
    std::vector<std::string> names;
    TFileSearch search;
    if (search.FindFirst(JoinPath(folder, "*.*"), faHidden | faArchive)) {
        do {
            if (IsRawFileName(search.Current().Name))
                names.push_back(search.Current().Name);
        } while (search.FindNext());
    }
    // A camera card or another read-only folder takes no thumbnail file: one line for the
    // folder says so, not one per RAW file.
    if (!names.empty() && ::access(folder.c_str(), W_OK) != 0) {
        FRawReport.ReadOnlyFolder(folder, names.size());
        names.clear();
    }
    return names;
}

void TMainForm::StartRawPass(const std::string &folder, const std::vector<std::string> &names) {
    const TThumbSettings settings = thumbForm1 ? thumbForm1->Settings() : TThumbSettings{};
    if (!FRawConverter)
        FRawConverter = std::make_unique<TRawConverter>();
    FRawNames = names;
    const int count = int(names.size());
    auto progress = [this, count](int i) {
        return FRawNames[std::size_t(i)] + " (" + std::to_string(i + 1) + " of " +
               std::to_string(count) + ")";
    };
    // The workers convert; this thread only takes their results in listing order.
    FRawConverter->OnResult = [this, count, progress](int i, const TRawResult &result) {
        ListView->AddItem(result.Name, -1);
        if (result.Outcome == TRawOutcome::Failed)
            FRawReport.Failed(result.Name, result.Error);
        SetProgressPosition(i + 1);
        if (i + 1 < count)
            ShowCurrentFile(progress(i + 1));
    };
    FRawConverter->OnFinished = [this](bool stopped) {
        // The icon pass starts the bar again.
        SetProgressPosition(0);
        ShowCurrentFile("");
        FScan.RawPassDone(!stopped);
    };
    SetProgressMax(count);
    SetProgressPosition(0);
    ShowCurrentFile(progress(0));
    FRawConverter->Start(folder, names, settings);
}

void TMainForm::StopRawPass() {
    if (FRawConverter)
        FRawConverter->Stop();
}

void TMainForm::RawPassEnded(const std::string &folder, bool complete) {
    // A folder taken away under the pass fails every file left: the folder has gone, which the
    // window reports, and the files have not failed.
    if (FRawReport.PassEnded(folder, complete && IsFolder(folder)))
        PostMessageA(Handle(), WM_RAWFAILURES, 0, 0);
    if (!complete)
        ClearList(); // the pass's stand-in items; nothing is listed
}

bool TMainForm::StartListing(const std::string &folder) {
    ClearList();
    TFileSearch search;
    if (!search.FindFirst(JoinPath(folder, "*.*"), faHidden | faArchive))
        return false;
    do {
        const std::string &name = search.Current().Name;
        if (IsListedName(name))
            ListView->AddItem(name, -1);
    } while (search.FindNext());
    search.FindClose();
    SetProgressMax(ListView->Count());
    ReadListMarks();

    // The cells are rendered at the screen's device pixels and shown at 120 x 120.
    const qreal ratio = ListView->devicePixelRatioF();
    auto *extractor = new TThumbnailExtractorThread(
        FNotify, folder, ListView, qRound(ImageList1->Width() * ratio),
        qRound(ImageList1->Height() * ratio), unsigned(PixelFormatBits()), ExtractFlags(), ratio);
    FExtractor = extractor;
    extractor->SetOnTerminate(this, [this](TThread *) { ExtractorDone(); });
    extractor->Resume();
    return true;
}

void TMainForm::AbortExtractor() {
    if (FExtractor)
        FExtractor->Abort();
}

void TMainForm::ShowAborting() {
    ShowStatus("Aborting. Please wait...");
}

void TMainForm::ExtractorDone() {
    FExtractor = nullptr;
    FScan.ExtractorEnded();
}

void TMainForm::ScanEnded() {
    ShowCurrentFile(FRawReport.Note());
    SetProgressPosition(0);
    ShowStatus("Ready");
    BtnStop->setEnabled(false);
    if (FSortKey != TSortKey::Name || FSortDescending)
        ApplySort();
    // Gone before the scan began (a row of the tree not read again), or stopped by its going.
    if (FFolderWatch.Gone())
        FolderGone(FFolderWatch.Folder());
}

void TMainForm::ReportRawFailures() {
    const std::string text = FRawReport.TakeBoxText();
    if (!text.empty())
        MessageBoxA(Handle(), text, Application ? Application->Title() : "Pixavant",
                    MB_OK | MB_ICONWARNING);
}
