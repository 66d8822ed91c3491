#include "ListView.h"

#include <QFile>
#include <QItemSelection>
#include <QMouseEvent>

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

QPixmap TImageList::Masked(const TBitmap &bitmap, TColor maskColor) const {
    const QImage &src = bitmap.Image();
    if (src.isNull())
        return QPixmap();
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
    if (FWidth > 0 && img.width() > FWidth)
        img.setDevicePixelRatio(qreal(img.width()) / FWidth);
    return QPixmap::fromImage(img);
}

int TImageList::AddMasked(const TBitmap &bitmap, TColor maskColor) {
    QPixmap pixmap = Masked(bitmap, maskColor);
    if (pixmap.isNull())
        return -1;
    FImages.push_back(std::move(pixmap));
    return Count() - 1;
}

void TImageList::Replace(int index, const TBitmap &bitmap, TColor maskColor) {
    QPixmap pixmap = Masked(bitmap, maskColor);
    if (index < 0 || index >= Count() || pixmap.isNull())
        throw EInvalidOperation("Unable to Replace Image");
    FImages[std::size_t(index)] = std::move(pixmap);
    if (OnChange)
        OnChange(index);
}

void TImageList::Clear() {
    FImages.clear();
    if (OnClear)
        OnClear();
}

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
        images->OnChange = [this](int index) { ImageChanged(index); };
        images->OnClear = [this] {
            for (int i = 0; i < count(); ++i)
                RefreshIcon(item(i));
        };
    }
}

int TListView::AddItem(const std::string &caption, int imageIndex) {
    auto *it = new QListWidgetItem(PathToText(caption));
    it->setData(RawCaptionRole, QByteArray::fromStdString(caption));
    it->setData(ImageIndexRole, imageIndex);
    it->setSizeHint(gridSize());
    addItem(it);
    RefreshIcon(it);
    return count() - 1;
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
    if (QListWidgetItem *it = item(index)) {
        it->setData(ImageIndexRole, imageIndex);
        RefreshIcon(it);
    }
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

void TListView::RefreshIcon(QListWidgetItem *it) {
    const int index = it->data(ImageIndexRole).toInt();
    if (FImages && index >= 0 && index < FImages->Count())
        it->setIcon(QIcon(FImages->Image(index)));
    else
        it->setIcon(QIcon());
}

void TListView::ImageChanged(int imageIndex) {
    for (int i = 0; i < count(); ++i) {
        QListWidgetItem *it = item(i);
        if (it->data(ImageIndexRole).toInt() == imageIndex)
            RefreshIcon(it);
    }
}
