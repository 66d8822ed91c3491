#include "ViewPosition.h"

#include <QHBoxLayout>

QString PositionText(int index, int count) {
    if (index < 0 || index >= count)
        return QString();
    return QStringLiteral("%1 of %2").arg(index + 1).arg(count);
}

QLabel *MakePositionLabel(QWidget *bar) {
    // The speed buttons are placed by hand; the layout holds only the label and leaves them be.
    auto *layout = new QHBoxLayout(bar);
    layout->setContentsMargins(0, 0, 20, 0);
    layout->addStretch(1);
    auto *label = new QLabel(bar);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    layout->addWidget(label);
    return label;
}
