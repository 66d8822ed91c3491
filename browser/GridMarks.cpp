#include "GridMarks.h"

#include <QListWidgetItem>
#include <QPainter>

namespace {
// Beside the list view's own roles (caption bytes, image index).
constexpr int RatingRole = Qt::UserRole + 16;
constexpr int LabelRole = Qt::UserRole + 17;
constexpr int NameOrderRole = Qt::UserRole + 18;
constexpr int DateTakenRole = Qt::UserRole + 19;
} // namespace

int ItemNameOrder(const QListWidgetItem *item) {
    return item ? item->data(NameOrderRole).toInt() : 0;
}

void SetItemNameOrder(QListWidgetItem *item, int order) {
    if (item)
        item->setData(NameOrderRole, order);
}

std::optional<std::string> ItemDateTaken(const QListWidgetItem *item) {
    const QVariant date = item ? item->data(DateTakenRole) : QVariant();
    if (!date.isValid())
        return std::nullopt;
    return date.toString().toStdString();
}

void SetItemDateTaken(QListWidgetItem *item, const std::string &date) {
    if (item)
        item->setData(DateTakenRole, QString::fromStdString(date));
}

std::optional<TMarks> ItemMarks(const QListWidgetItem *item) {
    if (!item)
        return std::nullopt;
    const QVariant rating = item->data(RatingRole);
    if (!rating.isValid())
        return std::nullopt;
    return TMarks{rating.toInt(), item->data(LabelRole).toString().toStdString()};
}

void SetItemMarks(QListWidgetItem *item, const TMarks &marks) {
    if (!item)
        return;
    item->setData(RatingRole, marks.Rating);
    item->setData(LabelRole, QString::fromStdString(marks.Label));
}

QColor LabelColor(const std::string &label) {
    // The colours Lightroom and darktable show for their labels.
    if (label == "Red")
        return QColor(0xd9, 0x2b, 0x2b);
    if (label == "Yellow")
        return QColor(0xe8, 0xc5, 0x1a);
    if (label == "Green")
        return QColor(0x3c, 0xa6, 0x3c);
    if (label == "Blue")
        return QColor(0x2f, 0x6f, 0xd6);
    if (label == "Purple")
        return QColor(0x8e, 0x44, 0xad);
    return QColor();
}

void TMarksDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                           const QModelIndex &index) const {
    QStyledItemDelegate::paint(painter, option, index);
    const QVariant rating = index.data(RatingRole);
    if (!rating.isValid())
        return;
    const int stars = rating.toInt();
    const std::string label = index.data(LabelRole).toString().toStdString();
    if (stars == 0 && label.empty())
        return;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QRect cell = option.rect.adjusted(4, 4, -4, -4);
    // A strip along the top of the cell: the label's colour on the left, the stars after it.
    const int strip = 16;
    int x = cell.left();
    const QColor color = LabelColor(label);
    if (color.isValid() || !label.empty()) {
        painter->setPen(QPen(Qt::white, 1));
        painter->setBrush(color.isValid() ? color : QColor(Qt::gray));
        painter->drawEllipse(QRect(x, cell.top(), strip - 2, strip - 2));
        x += strip + 2;
    }
    QFont font = painter->font();
    font.setPixelSize(strip - 2);
    font.setBold(true);
    painter->setFont(font);
    const QRect text(x, cell.top() - 1, cell.right() - x, strip);
    // Dark text on a light halo reads over any thumbnail.
    const QString marks = stars < 0 ? QStringLiteral("\u2715") : QString(stars, QChar(0x2605));
    painter->setPen(QColor(255, 255, 255, 200));
    for (const QPoint &d : {QPoint(-1, 0), QPoint(1, 0), QPoint(0, -1), QPoint(0, 1)})
        painter->drawText(text.translated(d), Qt::AlignLeft | Qt::AlignTop, marks);
    painter->setPen(stars < 0 ? QColor(0xc0, 0x10, 0x10) : QColor(0xb8, 0x86, 0x0b));
    painter->drawText(text, Qt::AlignLeft | Qt::AlignTop, marks);
    painter->restore();
}
