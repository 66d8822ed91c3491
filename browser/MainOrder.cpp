// The main window's View menu: which entries the grid shows (by their marks) and in what order.
// Next, Previous and the slideshow step through the entries shown.
#include <QActionGroup>
#include <QMenu>
#include <QMenuBar>

#include <ctime>
#include <sys/stat.h>

#include "GridMarks.h"
#include "ShootingInfo.h"
#include "main.h"

namespace {

// The date a picture was taken, as exiv2 writes it; its modification time when it names none,
// so that pictures without EXIF still fall among the others by when they were made.
std::string DateTakenOrModified(const std::string &picture) {
    const std::string date = ReadShootingInfo(picture).DateTaken;
    if (!date.empty())
        return date;
    struct stat st {};
    if (::stat(picture.c_str(), &st) != 0)
        return {};
    std::tm local{};
    char buffer[32] = "";
    if (::localtime_r(&st.st_mtime, &local))
        std::strftime(buffer, sizeof buffer, "%Y:%m:%d %H:%M:%S", &local);
    return buffer;
}

} // namespace

void TMainForm::SetUpViewMenu() {
    QMenu *view = new QMenu(tr("&View"), ActionMainMenuBar1);
    // Between File and Help.
    const QList<QAction *> menus = ActionMainMenuBar1->actions();
    ActionMainMenuBar1->insertMenu(menus.size() > 1 ? menus[1] : nullptr, view);

    QMenu *show = view->addMenu(tr("&Show"));
    auto *filters = new QActionGroup(this);
    auto addFilter = [&](const QString &caption, TGridFilter filter) {
        QAction *action = show->addAction(caption);
        action->setCheckable(true);
        action->setChecked(filter.Kind == TGridFilter::All);
        filters->addAction(action);
        connect(action, &QAction::triggered, this, [this, filter] { SetFilter(filter); });
    };
    addFilter(tr("&All Pictures"), {});
    for (int stars = 1; stars <= 5; ++stars)
        addFilter(tr("%n Star(s) or More", nullptr, stars), {TGridFilter::AtLeast, stars});
    addFilter(tr("&Picks"), {TGridFilter::Picks});
    addFilter(tr("&Rejects"), {TGridFilter::Rejects});

    QMenu *sort = view->addMenu(tr("Sort &By"));
    auto *keys = new QActionGroup(this);
    const std::pair<QString, TSortKey> sortKeys[] = {{tr("&Name"), TSortKey::Name},
                                                     {tr("&Date Taken"), TSortKey::DateTaken},
                                                     {tr("&Modification Time"), TSortKey::Modified},
                                                     {tr("File &Size"), TSortKey::Size},
                                                     {tr("&Rating"), TSortKey::Rating}};
    for (const auto &[caption, key] : sortKeys) {
        QAction *action = sort->addAction(caption);
        action->setCheckable(true);
        action->setChecked(key == TSortKey::Name);
        keys->addAction(action);
        connect(action, &QAction::triggered, this,
                [this, key = key] { SetSort(key, FSortDescending); });
    }
    sort->addSeparator();
    QAction *descending = sort->addAction(tr("D&escending"));
    descending->setCheckable(true);
    connect(descending, &QAction::toggled, this, [this](bool on) { SetSort(FSortKey, on); });

    view->addSeparator();
    QAction *pairs = view->addAction(tr("RAW and JPEG &Pairs as One Photo"));
    pairs->setObjectName(QStringLiteral("PairsAsOne"));
    pairs->setCheckable(true);
    connect(pairs, &QAction::toggled, this, [this](bool on) { SetPairsAsOne(on); });
}

bool TMainForm::EntryShown(int index) const {
    return index >= 0 && index < ListView->Count() && !ListView->isRowHidden(index);
}

void TMainForm::SetFilter(const TGridFilter &filter) {
    FFilter = filter;
    ApplyFilter();
}

void TMainForm::ApplyFilter() {
    for (int row = 0; row < ListView->Count(); ++row) {
        const QListWidgetItem *item = ListView->item(row);
        ListView->setRowHidden(row, !FilterPasses(FFilter, ItemMarks(item).value_or(TMarks{})));
    }
}

void TMainForm::SetSort(TSortKey key, bool descending) {
    FSortKey = key;
    FSortDescending = descending;
    ApplySort();
}

void TMainForm::ApplySort() {
    // The extractor names entries by their place while it runs; its end sorts again.
    if (FScan.State() != TScanState::Idle || ListView->Count() == 0)
        return;
    if (FSortKey == TSortKey::DateTaken) {
        std::vector<std::pair<QListWidgetItem *, std::string>> missing;
        for (int row = 0; row < ListView->Count(); ++row)
            if (!ItemDateTaken(ListView->item(row)))
                missing.emplace_back(ListView->item(row), EntryPicture(row));
        if (!missing.empty()) {
            // Read off this thread; the sort runs once every date is in.
            const int scan = FScan.ScanCount();
            FMetaWorker->Post([this, scan, missing = std::move(missing)] {
                std::vector<std::string> dates;
                for (const auto &entry : missing)
                    dates.push_back(DateTakenOrModified(entry.second));
                return std::function<void()>([this, scan, missing, dates] {
                    if (scan != FScan.ScanCount())
                        return;
                    for (std::size_t i = 0; i < missing.size(); ++i)
                        if (ListView->row(missing[i].first) >= 0)
                            SetItemDateTaken(missing[i].first, dates[i]);
                    ApplySort();
                });
            });
            return;
        }
    }
    std::vector<TSortFacts> facts;
    std::vector<QListWidgetItem *> items;
    for (int row = 0; row < ListView->Count(); ++row) {
        QListWidgetItem *item = ListView->item(row);
        TSortFacts f;
        f.NameOrder = ItemNameOrder(item);
        f.DateTaken = ItemDateTaken(item).value_or(std::string());
        f.Rating = ItemMarks(item).value_or(TMarks{}).Rating;
        if (FSortKey == TSortKey::Modified || FSortKey == TSortKey::Size) {
            struct stat st {};
            if (::stat(EntryPicture(row).c_str(), &st) == 0) {
                f.Modified = (long long)st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
                f.Size = st.st_size;
            }
        }
        facts.push_back(f);
        items.push_back(item);
    }
    const std::vector<int> order = SortedOrder(facts, FSortKey, FSortDescending);
    QListWidgetItem *selected = ListView->item(ListView->ItemIndex());
    FClearing = true; // moving entries is no selection of the user's
    while (ListView->Count() > 0)
        ListView->takeItem(ListView->Count() - 1);
    for (int index : order)
        ListView->addItem(items[std::size_t(index)]);
    FClearing = false;
    ApplyFilter();
    if (selected)
        ListView->SetItemIndex(ListView->row(selected));
}
