#include "MainKeyboard.h"

#include <QAction>
#include <QShortcut>
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

    form.Action1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    form.Action2->setShortcut(QKeySequence(Qt::Key_F1));
    // The menu is not always open: the window itself carries the keys too.
    form.addAction(form.Action1);
    form.addAction(form.Action2);

    auto *refresh = new QAction(QObject::tr("Refresh"), &form);
    refresh->setShortcut(QKeySequence(Qt::Key_F5));
    QObject::connect(refresh, &QAction::triggered, &form, [&form] { form.BtnRefreshClick(); });
    form.addAction(refresh);
    form.BtnRefresh->setToolTip(QObject::tr("Refresh (F5)"));

    // Return opens the grid's picture as a double click does; the current entry, marked by
    // the arrow keys, counts as selected.
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto *open = new QShortcut(QKeySequence(key), form.ListView);
        open->setContext(Qt::WidgetShortcut);
        QObject::connect(open, &QShortcut::activated, &form, [&form] {
            if (form.ListView->ItemIndex() < 0)
                form.ListView->SetItemIndex(form.ListView->currentRow());
            form.ListViewDblClick();
        });
    }
}
