#include "FolderTreeView.h"

#include <QKeyEvent>

namespace {

// Marks the view's handling of one user event; events may nest (a key that opens a dialog).
class TUserInput {
public:
    explicit TUserInput(int &depth) : FDepth(depth) { ++FDepth; }
    ~TUserInput() { --FDepth; }
    TUserInput(const TUserInput &) = delete;
    TUserInput &operator=(const TUserInput &) = delete;

private:
    int &FDepth;
};

} // namespace

void TFolderTreeView::mousePressEvent(QMouseEvent *event) {
    TUserInput user(FUserInput);
    QTreeView::mousePressEvent(event);
}

void TFolderTreeView::mouseMoveEvent(QMouseEvent *event) {
    TUserInput user(FUserInput);
    QTreeView::mouseMoveEvent(event);
}

void TFolderTreeView::mouseReleaseEvent(QMouseEvent *event) {
    TUserInput user(FUserInput);
    QTreeView::mouseReleaseEvent(event);
}

void TFolderTreeView::mouseDoubleClickEvent(QMouseEvent *event) {
    TUserInput user(FUserInput);
    QTreeView::mouseDoubleClickEvent(event);
}

void TFolderTreeView::keyPressEvent(QKeyEvent *event) {
    TUserInput user(FUserInput);
    TUserInput key(FKeyInput);
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        emit FolderTaken();
    QTreeView::keyPressEvent(event);
}

void TFolderTreeView::inputMethodEvent(QInputMethodEvent *event) {
    TUserInput user(FUserInput);
    TUserInput key(FKeyInput);
    QTreeView::inputMethodEvent(event);
}
