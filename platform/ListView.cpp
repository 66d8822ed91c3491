#include "ListView.h"

#include <QFile>
#include <QItemSelection>
#include <QMouseEvent>
#include <QtMath>

#include <algorithm>

#include "Exceptions.h"
#include "Text.h"

namespace {
constexpr int RawCaptionRole = Qt::UserRole + 1;
constexpr int ImageIndexRole = Qt::UserRole + 2;
} // namespace

int ListView_GetItemCount(HWND listView) {
    return int(SendMessageA(listView, LVM_GETITEMCOUNT, 0, 0));
}

bool ListView_GetItemText(HWND listView, int index, std::string &caption) {
    return SendMessageA(listView, LVM_GETITEMTEXTA, WPARAM(index),
                        reinterpret_cast<LPARAM>(&caption)) != 0;
}

QImage TImageList::Masked(const TBitmap &bitmap, TColor maskColor) const {
    const QImage &src = bitmap.Image();
    if (src.isNull())
        return QImage();
    QImage img = src.convertToFormat(QImage::Format_ARGB32);
    const bool masked = maskColor != clNone;
    const QRgb key = ToQRgb(maskColor) & 0x00FFFFFFu;
    for (int y = 0; y < img.height(); ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            const QRgb rgb = line[x] & 0x00FFFFFFu;
            line[x] = (masked && rgb == key) ? 0u : (rgb | 0xFF000000u);
        }
    }
    return img;
}

int TImageList::AddMasked(const TBitmap &bitmap, TColor maskColor) {
    TCompactImage packed(Masked(bitmap, maskColor));
    if (packed.IsEmpty())
        return -1;
    FPackedBytes += packed.Bytes();
    FImages.push_back(std::move(packed));
    return Count() - 1;
}

void TImageList::Replace(int index, const TBitmap &bitmap, TColor maskColor) {
    TCompactImage packed(Masked(bitmap, maskColor));
    if (index < 0 || index >= Count() || packed.IsEmpty())
        throw EInvalidOperation("Unable to Replace Image");
    Forget(index);
    TCompactImage &slot = FImages[std::size_t(index)];
    FPackedBytes = FPackedBytes - slot.Bytes() + packed.Bytes();
    slot = std::move(packed);
    if (OnChange)
        OnChange(index);
}

void TImageList::Clear() {
    FImages.clear();
    FPackedBytes = 0;
    FCache.clear();
    FCacheIndex.clear();
    FCachedBytes = 0;
    if (OnClear)
        OnClear();
}

namespace {
std::size_t PixmapBytes(const QPixmap &pixmap) {
    return std::size_t(pixmap.width()) * std::size_t(pixmap.height()) *
           std::size_t(std::max(pixmap.depth(), 8) / 8);
}
} // namespace

QPixmap TImageList::Image(int index) const {
    if (index < 0 || index >= Count())
        return QPixmap();
    if (auto found = FCacheIndex.find(index); found != FCacheIndex.end()) {
        FCache.splice(FCache.begin(), FCache, found->second);
        return found->second->second;
    }
    QImage img = FImages[std::size_t(index)].ToImage();
    if (img.isNull())
        return QPixmap();
    if (FWidth > 0 && img.width() > FWidth)
        img.setDevicePixelRatio(qreal(img.width()) / FWidth);
    QPixmap pixmap = QPixmap::fromImage(std::move(img));
    FCache.emplace_front(index, pixmap);
    FCacheIndex[index] = FCache.begin();
    FCachedBytes += PixmapBytes(pixmap);
    Trim();
    return pixmap;
}

void TImageList::SetCacheLimit(std::size_t bytes) {
    FCacheLimit = bytes;
    Trim();
}

void TImageList::Forget(int index) {
    if (auto found = FCacheIndex.find(index); found != FCacheIndex.end()) {
        FCachedBytes -= PixmapBytes(found->second->second);
        FCache.erase(found->second);
        FCacheIndex.erase(found);
    }
}

void TImageList::Trim() const {
    // The most recent one stays even alone above the bound: it is being shown.
    while (FCachedBytes > FCacheLimit && FCache.size() > 1) {
        FCachedBytes -= PixmapBytes(FCache.back().second);
        FCacheIndex.erase(FCache.back().first);
        FCache.pop_back();
    }
}

namespace {
// Takes its picture from the list view's image list each time it is painted, so an item holds
// only its image index and the image list decides which pixels stay unpacked.
class TListItem : public QListWidgetItem {
public:
    using QListWidgetItem::QListWidgetItem;
    QVariant data(int role) const override {
        if (role == Qt::DecorationRole) {
            const auto *view = qobject_cast<const TListView *>(listWidget());
            if (const TImageList *images = view ? view->LargeImages() : nullptr) {
                const QPixmap pixmap = images->Image(QListWidgetItem::data(ImageIndexRole).toInt());
                return pixmap.isNull() ? QVariant() : QVariant(QIcon(pixmap));
            }
        }
        return QListWidgetItem::data(role);
    }
};
} // namespace

TListView::TListView(QWidget *parent)
    : QListWidget(parent), FHandle(this, [this](TMessage &m) { WndProc(m); }) {
    setViewMode(QListView::IconMode);
    setResizeMode(QListView::Adjust);
    setMovement(QListView::Static);
    setWrapping(true);
    setUniformItemSizes(true);
    setWordWrap(false);
    setTextElideMode(Qt::ElideMiddle);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSpacing(4);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection &selected, const QItemSelection &deselected) {
                if (!OnSelectItem)
                    return;
                for (const QModelIndex &i : deselected.indexes())
                    OnSelectItem(i.row(), false);
                for (const QModelIndex &i : selected.indexes())
                    OnSelectItem(i.row(), true);
            });
}

void TListView::SetLargeImages(TImageList *images) {
    FImages = images;
    if (images) {
        const QSize size(images->Width(), images->Height());
        setIconSize(size);
        setGridSize(QSize(size.width() + 24, size.height() + fontMetrics().height() + 16));
        images->OnChange = [this](int) { viewport()->update(); };
        images->OnClear = [this] { viewport()->update(); };
        FitCacheToView();
    }
}

void TListView::FitCacheToView() {
    // Twice the cells a screenful shows stay unpacked, so scrolling back a page unpacks nothing.
    if (!FImages || gridSize().isEmpty())
        return;
    const QSize area = viewport()->size();
    const std::size_t cells = std::size_t(area.width() / gridSize().width() + 2) *
                              std::size_t(area.height() / gridSize().height() + 2);
    const qreal ratio = devicePixelRatioF();
    const std::size_t cellBytes = std::size_t(qCeil(FImages->Width() * ratio)) *
                                  std::size_t(qCeil(FImages->Height() * ratio)) * 4;
    if (2 * cells * cellBytes > FImages->CacheLimit())
        FImages->SetCacheLimit(2 * cells * cellBytes);
}

int TListView::AddItem(const std::string &caption, int imageIndex) {
    return InsertItem(count(), caption, imageIndex);
}

int TListView::InsertItem(int index, const std::string &caption, int imageIndex) {
    auto *it = new TListItem(PathToText(caption));
    it->setData(RawCaptionRole, QByteArray::fromStdString(caption));
    it->setData(ImageIndexRole, imageIndex);
    it->setSizeHint(gridSize());
    const int at = std::clamp(index, 0, count());
    insertItem(at, it);
    return at;
}

void TListView::RemoveItem(int index) {
    delete takeItem(index);
}

std::string TListView::Caption(int index) const {
    const QListWidgetItem *it = item(index);
    return it ? it->data(RawCaptionRole).toByteArray().toStdString() : std::string();
}

int TListView::ImageIndex(int index) const {
    const QListWidgetItem *it = item(index);
    return it ? it->data(ImageIndexRole).toInt() : -1;
}

void TListView::SetImageIndex(int index, int imageIndex) {
    if (QListWidgetItem *it = item(index))
        it->setData(ImageIndexRole, imageIndex); // repaints the item if it is in view
}

void TListView::Clear() {
    clear();
}

int TListView::ItemIndex() const {
    const QList<QListWidgetItem *> sel = selectedItems();
    return sel.isEmpty() ? -1 : row(sel.first());
}

void TListView::SetItemIndex(int index) {
    if (index < 0 || index >= count()) {
        clearSelection();
        return;
    }
    setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
    scrollToItem(item(index));
}

void TListView::BeginUpdate() {
    // While an update is open the items are hidden behind a plain cover, so the list shows
    // them all at once when it ends instead of repainting item by item.
    if (FUpdateCount++ == 0) {
        if (!FCover) {
            FCover = new QWidget(viewport());
            FCover->setAutoFillBackground(true);
            FCover->setBackgroundRole(QPalette::Base);
        }
        FCover->setGeometry(viewport()->rect());
        FCover->show();
        FCover->raise();
    }
}

void TListView::EndUpdate() {
    if (FUpdateCount > 0 && --FUpdateCount == 0 && FCover)
        FCover->hide();
}

void TListView::resizeEvent(QResizeEvent *event) {
    QListWidget::resizeEvent(event);
    if (FCover)
        FCover->setGeometry(viewport()->rect());
    FitCacheToView();
}

void TListView::mouseDoubleClickEvent(QMouseEvent *event) {
    QListWidget::mouseDoubleClickEvent(event);
    if (OnDblClick)
        OnDblClick();
}

void TListView::WndProc(TMessage &message) {
    switch (message.Msg) {
    case LVM_GETITEMCOUNT:
        message.Result = count();
        break;
    case LVM_GETITEMTEXTA: {
        const int index = int(message.WParam);
        auto *out = reinterpret_cast<std::string *>(message.LParam);
        if (index >= 0 && index < count() && out) {
            *out = Caption(index);
            message.Result = 1;
        }
        break;
    }
    default:
        break;
    }
}
