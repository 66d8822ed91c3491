// The main window's side of culling a card: marks on the grid's entries, the shooting
// information in the current-file panel, and deleting to the trash with undo.
#include <QAction>
#include <QShortcut>

#include <algorithm>

#include <sys/stat.h>

#include "Application.h"
#include "Dialogs.h"
#include "Exceptions.h"
#include "FileSystem.h"
#include "GridMarks.h"
#include "GridOrder.h"
#include "ShootingInfo.h"
#include "main.h"

namespace {

// Entries whose marks one job reads: the first cells fill in soon, and a new scan drops the
// rest of a large folder quickly.
constexpr int MarksPerJob = 64;

std::string Title() {
    return Application ? Application->Title() : std::string("Pixavant");
}

} // namespace

void TMainForm::SetUpCulling() {
    FMetaWorker = new TMetaWorker(this);
    ListView->setItemDelegate(new TMarksDelegate(ListView));

    const char keys[] = "0123456789X";
    for (const char key : keys) {
        if (key == 0)
            break;
        const Qt::Key code = key == 'X' ? Qt::Key_X : Qt::Key(Qt::Key_0 + (key - '0'));
        QList<QKeySequence> sequences{QKeySequence(code)};
        if (key != 'X')
            sequences << QKeySequence(Qt::KeypadModifier | code);
        for (const QKeySequence &sequence : sequences) {
            auto *shortcut = new QShortcut(sequence, ListView);
            shortcut->setContext(Qt::WidgetShortcut);
            connect(shortcut, &QShortcut::activated, this, [this, key] { MarkSelected(key); });
        }
    }
    auto *remove = new QShortcut(QKeySequence(Qt::Key_Delete), ListView);
    remove->setContext(Qt::WidgetShortcut);
    connect(remove, &QShortcut::activated, this, [this] { DeleteSelected(); });

    auto *undo = new QAction(tr("Undo Delete"), this);
    undo->setShortcut(QKeySequence::Undo);
    connect(undo, &QAction::triggered, this, [this] { UndoDelete(); });
    addAction(undo);
    // On the grid only: in the tree a letter still finds the folder that begins with it.
    auto *info = new QShortcut(QKeySequence(Qt::Key_I), ListView);
    info->setContext(Qt::WidgetShortcut);
    connect(info, &QShortcut::activated, this, [this] { SetShootingInfoShown(!FShowInfo); });
    SetUpViewMenu();
}

bool TMainForm::MetaBusy() const {
    return FMetaWorker && FMetaWorker->Busy();
}

// ---------------------------------------------------------------------------------------------
// Marks

void TMainForm::ReadListMarks() {
    FMetaWorker->Cancel();
    const std::string folder = FSelFolder;
    const int scan = FScan.ScanCount();
    for (int row = 0; row < ListView->Count(); ++row)
        SetItemNameOrder(ListView->item(row), row);
    ApplyFilter();
    for (int first = 0; first < ListView->Count(); first += MarksPerJob) {
        std::vector<std::pair<std::string, std::string>> entries; // caption, picture
        for (int i = first; i < std::min(first + MarksPerJob, ListView->Count()); ++i)
            entries.emplace_back(ListView->Caption(i), EntryPicture(i));
        FMetaWorker->Post([this, folder, scan, first, entries = std::move(entries)] {
            std::vector<TMarks> marks;
            for (const auto &entry : entries)
                marks.push_back(ReadMarks(entry.second));
            return std::function<void()>([this, folder, scan, first, entries, marks] {
                if (scan != FScan.ScanCount() || folder != FSelFolder)
                    return;
                for (std::size_t i = 0; i < entries.size(); ++i) {
                    // A deletion since the job was posted moves the entries up.
                    int row = first + int(i);
                    if (ListView->Caption(row) != entries[i].first) {
                        row = -1;
                        for (int r = 0; r < ListView->Count() && row < 0; ++r)
                            if (ListView->Caption(r) == entries[i].first)
                                row = r;
                    }
                    if (row >= 0 && !ItemMarks(ListView->item(row)))
                        SetItemMarks(ListView->item(row), marks[i]);
                }
                ApplyFilter();
                if (FSortKey == TSortKey::Rating && !FMetaWorker->Busy())
                    ApplySort();
            });
        });
    }
}

void TMainForm::MarkSelected(char key) {
    int index = ListView->ItemIndex();
    if (index < 0)
        index = ListView->currentRow();
    if (index >= 0)
        MarkEntry(index, key);
}

void TMainForm::MarkEntry(int index, char key) {
    QListWidgetItem *item = ListView->item(index);
    if (!item)
        return;
    const std::string picture = EntryPicture(index);
    const std::optional<TMarks> known = ItemMarks(item);
    TMarks marks = known ? *known : ReadMarks(picture);
    if (!ApplyMarkKey(marks, key))
        return;
    try {
        WriteMarks(picture, marks);
    } catch (const Exception &e) {
        MessageBoxA(Handle(), e.Message(), Title(), MB_OK | MB_ICONWARNING);
        return;
    }
    SetItemMarks(item, marks);
    ApplyFilter();
    if (index == ListView->ItemIndex())
        ShowSelectedInfo();
}

std::string TMainForm::SelectedMarksText() const {
    const std::optional<TMarks> marks = ItemMarks(ListView->item(ListView->ItemIndex()));
    return marks ? MarksText(*marks) : std::string();
}

// ---------------------------------------------------------------------------------------------
// Shooting information

void TMainForm::SetShootingInfoShown(bool shown) {
    FShowInfo = shown;
    if (shown)
        ShowSelectedInfo();
    else
        ShowCurrentFile("");
}

void TMainForm::ShowSelectedInfo() {
    if (!FShowInfo || FSelectedPicture.empty() || ListView->ItemIndex() < 0)
        return;
    const std::string picture = FSelectedPicture;
    FMetaWorker->Post([this, picture] {
        const ShootingInfo info = ReadShootingInfo(picture);
        return std::function<void()>([this, picture, info] {
            if (FShowInfo && picture == FSelectedPicture)
                ShowCurrentFile(ShootingInfoLine(info));
        });
    });
}

// ---------------------------------------------------------------------------------------------
// Trash

int TMainForm::DeleteSelected() {
    int index = ListView->ItemIndex();
    if (index < 0)
        return -1;
    // The extractor names the entries by their place in the list while it runs.
    if (FScan.State() != TScanState::Idle) {
        MessageBoxA(Handle(), "Pictures can be deleted once the folder has been read.", Title(),
                    MB_OK | MB_ICONINFORMATION);
        return -1;
    }
    // The entry, and its partner when pairs are one photo.
    std::vector<int> rows{index};
    if (FPairsAsOne) {
        std::vector<std::string> pictures;
        for (int row = 0; row < ListView->Count(); ++row)
            pictures.push_back(PictureForEntry(ListView->Caption(row)));
        if (const int partner = PairPartner(pictures, index); partner >= 0)
            rows.push_back(partner);
    }
    std::sort(rows.begin(), rows.end());
    std::vector<std::string> files;
    for (const int row : rows) {
        const std::string entry = IncludeTrailingPathDelimiter(FSelFolder) + ListView->Caption(row);
        const std::string picture = PictureForEntry(entry);
        // A RAW file goes with its thumbnail file and both sidecar names; any other picture
        // with its own sidecar only, since NAME.xmp may be a RAW file's of the same name.
        files.push_back(picture);
        if (picture != entry)
            files.insert(files.end(), {entry, SidecarFor(picture), picture + ".xmp"});
        else
            files.push_back(SidecarFor(picture));
    }
    TDeletion deletion;
    try {
        deletion.Files = MoveToTrash(files);
    } catch (const Exception &e) {
        MessageBoxA(Handle(), e.Message(), Title(), MB_OK | MB_ICONWARNING);
        return -1;
    }
    deletion.Folder = FSelFolder;
    deletion.Chosen = ListView->Caption(index);
    deletion.Scan = FScan.ScanCount();
    for (const int row : rows) {
        const QListWidgetItem *item = ListView->item(row);
        deletion.Entries.push_back({row, ListView->Caption(row), ListView->ImageIndex(row),
                                    ItemNameOrder(item), ItemMarks(item)});
    }
    FDeletions.push_back(std::move(deletion));

    FClearing = true; // the entries' going is no selection of the user's
    for (auto row = rows.rbegin(); row != rows.rend(); ++row)
        ListView->RemoveItem(*row);
    FClearing = false;
    // The entry after it takes its place (a partner before it moves it up one); the view may
    // have selected it by itself already, without a word to us.
    index -= int(std::count_if(rows.begin(), rows.end(), [&](int row) { return row < index; }));
    if (ListView->Count() > 0) {
        ListView->SetItemIndex(std::min(index, ListView->Count() - 1));
        ListViewSelectItem(ListView->ItemIndex(), true);
    } else {
        FSelectedPicture.clear();
        Label1->clear();
    }
    return index;
}

bool TMainForm::UndoDelete() {
    if (FDeletions.empty())
        return false;
    TDeletion deletion = std::move(FDeletions.back());
    FDeletions.pop_back();
    try {
        RestoreFromTrash(deletion.Files);
    } catch (const Exception &e) {
        MessageBoxA(Handle(), e.Message(), Title(), MB_OK | MB_ICONWARNING);
    }
    if (deletion.Folder != FSelFolder)
        return true;
    // A list read again since has other images: reading it once more puts the entry back.
    if (deletion.Scan != FScan.ScanCount() || FScan.State() != TScanState::Idle) {
        BtnRefreshClick();
        return true;
    }
    int row = -1;
    for (const TDeletedEntry &entry : deletion.Entries) {
        const int at = ListView->InsertItem(entry.Index, entry.Caption, entry.ImageIndex);
        SetItemNameOrder(ListView->item(at), entry.NameOrder);
        if (entry.Marks)
            SetItemMarks(ListView->item(at), *entry.Marks);
        if (entry.Caption == deletion.Chosen)
            row = at;
    }
    ApplyFilter();
    ListView->SetItemIndex(row);
    return true;
}
