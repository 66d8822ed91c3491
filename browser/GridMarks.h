// Marks on the grid's cells: the marks each entry carries, and the painting of stars, a reject
// cross and the label's colour over the thumbnail.
#pragma once

#include <QStyledItemDelegate>

#include <optional>

#include "Marks.h"

class QListWidgetItem;

// The marks of an entry, none before they have been read.
std::optional<TMarks> ItemMarks(const QListWidgetItem *item);
void SetItemMarks(QListWidgetItem *item, const TMarks &marks);

// The colour a label is shown in; invalid for a label of no known colour.
QColor LabelColor(const std::string &label);

class TMarksDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
};
