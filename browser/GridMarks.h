// Marks on the grid's cells: the marks each entry carries, and the painting of stars, a reject
// cross and the label's colour over the thumbnail; and the other facts an entry's sort needs.
#pragma once

#include <QStyledItemDelegate>

#include <optional>

#include "Marks.h"

class QListWidgetItem;

// The marks of an entry, none before they have been read.
std::optional<TMarks> ItemMarks(const QListWidgetItem *item);
void SetItemMarks(QListWidgetItem *item, const TMarks &marks);

// What the sort needs beyond the marks: the entry's place in the folder's listing, and the
// date it was taken, none before it has been read.
int ItemNameOrder(const QListWidgetItem *item);
void SetItemNameOrder(QListWidgetItem *item, int order);
std::optional<std::string> ItemDateTaken(const QListWidgetItem *item);
void SetItemDateTaken(QListWidgetItem *item, const std::string &date);

// The colour a label is shown in; invalid for a label of no known colour.
QColor LabelColor(const std::string &label);

class TMarksDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
};
