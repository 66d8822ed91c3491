#include "MainKeyboard.h"

#include <QTreeView>

#include "main.h"

void SetUpKeyboard(TMainForm &form) {
    // Out of sight below the top panel but focusable, these took Tabs on the way to the grid,
    // and an arrow key on the colour-depth box posterised every thumbnail.
    for (QWidget *w : std::initializer_list<QWidget *>{
             form.Label2, form.ComboBox1, form.Label3, form.CheckBox1, form.CheckBox2,
             form.CheckBox3, form.CheckBox4, form.CheckBox5, form.BtnStop, form.BtnRefresh}) {
        w->setFocusPolicy(Qt::NoFocus);
        w->setVisible(false);
    }
    QWidget::setTabOrder(form.EdSelFolder, form.explor);
    QWidget::setTabOrder(form.explor, form.ListView);
    // Not every style marks a focused view, and an empty grid has no item to mark.
    const QString focusFrame = QStringLiteral(":focus { border: 2px solid palette(highlight); }");
    form.explor->setStyleSheet(QStringLiteral("QTreeView") + focusFrame);
    form.ListView->setStyleSheet(QStringLiteral("QListView") + focusFrame);
}
