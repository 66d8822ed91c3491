// The thumbnail list: an icon-mode list view whose items refer by index to the images of an
// image list of masked images. A worker thread reads the item count and captions through
// synchronous window messages to the list view's handle.
#pragma once

#include <QListWidget>
#include <QPixmap>

#include <functional>
#include <string>
#include <vector>

#include "Graphics.h"
#include "Messages.h"

constexpr UINT LVM_GETITEMCOUNT = 0x1004;
constexpr UINT LVM_GETITEMTEXTA = 0x102D; // wParam: index; lParam: std::string* to fill

// Blocking reads of a list view from any thread; 0 / false when the list view is gone.
int ListView_GetItemCount(HWND listView);
bool ListView_GetItemText(HWND listView, int index, std::string &caption);

class TImageList {
public:
    TImageList(int width, int height) : FWidth(width), FHeight(height) {}
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    int Count() const { return int(FImages.size()); }

    // Adds a copy of the bitmap; pixels of maskColor become transparent (clNone: opaque).
    // Returns the new index, or -1 when the bitmap cannot be stored.
    int AddMasked(const TBitmap &bitmap, TColor maskColor);
    // Overwrites image index; raises EInvalidOperation "Unable to Replace Image" when it
    // cannot.
    void Replace(int index, const TBitmap &bitmap, TColor maskColor);
    void Clear();
    const QPixmap &Image(int index) const { return FImages.at(std::size_t(index)); }

    std::function<void(int index)> OnChange; // after Replace
    std::function<void()> OnClear;

private:
    // A bitmap larger than a cell was rendered for a screen with more device pixels per
    // logical one: its pixmap says so, and is shown at the cell's logical size.
    QPixmap Masked(const TBitmap &bitmap, TColor maskColor) const;
    int FWidth;
    int FHeight;
    std::vector<QPixmap> FImages;
};

class TListView : public QListWidget {
    Q_OBJECT
public:
    explicit TListView(QWidget *parent = nullptr);

    HWND Handle() const { return FHandle.Handle(); }

    void SetLargeImages(TImageList *images);
    TImageList *LargeImages() const { return FImages; }

    int AddItem(const std::string &caption, int imageIndex = -1);
    int Count() const { return count(); }
    std::string Caption(int index) const;
    int ImageIndex(int index) const;
    void SetImageIndex(int index, int imageIndex);
    void Clear();

    // The selected item, -1 for none.
    int ItemIndex() const;
    void SetItemIndex(int index);

    // Updates nest; the list repaints only when every begun update has ended.
    void BeginUpdate();
    void EndUpdate();
    int UpdateCount() const { return FUpdateCount; }

    std::function<void(int item, bool selected)> OnSelectItem;
    std::function<void()> OnDblClick;

protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void WndProc(TMessage &message);
    void RefreshIcon(QListWidgetItem *item);
    void ImageChanged(int imageIndex);

    TImageList *FImages = nullptr;
    int FUpdateCount = 0;
    QWidget *FCover = nullptr;
    TWindowHandle FHandle;
};
