// The folder tree's view. It tells the user's own clicks and keys apart from the moves of its
// current row that the view makes by itself (a row removed under it, a model change), since
// only the user chooses a folder to scan and write thumbnail files into.
#pragma once

#include <QTreeView>

class TFolderTreeView : public QTreeView {
    Q_OBJECT
public:
    using QTreeView::QTreeView;

    // True while the view handles a mouse, key or input-method event of the user's.
    bool UserInput() const { return FUserInput > 0; }
    // True while that event is a key or typed text, which may be one of many on the way.
    bool KeyInput() const { return FKeyInput > 0; }

signals:
    // Return or Enter: the user takes the current folder now.
    void FolderTaken();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;

private:
    int FUserInput = 0;
    int FKeyInput = 0;
};
