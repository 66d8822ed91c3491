// The thumbnail list: an icon-mode list view whose items refer by index to the images of an
// image list of masked images. A worker thread reads the item count and captions through
// synchronous window messages to the list view's handle.
#pragma once

#include <QListWidget>
#include <QPixmap>

#include <cstddef>
#include <functional>
#include <list>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "CompactImage.h"
#include "Graphics.h"
#include "Messages.h"

constexpr UINT LVM_GETITEMCOUNT = 0x1004;
constexpr UINT LVM_GETITEMTEXTA = 0x102D; // wParam: index; lParam: std::string* to fill

// Blocking reads of a list view from any thread; 0 / false when the list view is gone.
int ListView_GetItemCount(HWND listView);
bool ListView_GetItemText(HWND listView, int index, std::string &caption);

// Images are kept packed (TCompactImage) and unpacked on demand: only the recently shown ones
// are held as pixmaps, within a byte bound, so a folder of 100,000 pictures costs little more
// than its packed thumbnails.
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
    // Image index, unpacked when it is not among the recently used; the same pixels every
    // time. A null pixmap for an index out of range. A bitmap larger than a cell was rendered
    // for a screen with more device pixels per logical one: its pixmap says so, and is shown at
    // the cell's logical size.
    QPixmap Image(int index) const;

    // Bound on the bytes of unpacked pixmaps kept for reuse; the least recently used go first.
    std::size_t CacheLimit() const { return FCacheLimit; }
    void SetCacheLimit(std::size_t bytes);
    std::size_t CachedBytes() const { return FCachedBytes; }
    bool IsCached(int index) const { return FCacheIndex.count(index) != 0; }
    // Bytes of every image's packed form.
    std::size_t PackedBytes() const { return FPackedBytes; }

    std::function<void(int index)> OnChange; // after Replace
    std::function<void()> OnClear;

    // About 280 cells of 120 x 120; a list view raises it to two of its screens when they need
    // more.
    static constexpr std::size_t DefaultCacheLimit = 16u << 20;

private:
    // The bitmap as ARGB32: pixels of maskColor transparent, every other one opaque.
    QImage Masked(const TBitmap &bitmap, TColor maskColor) const;
    void Forget(int index);
    void Trim() const;
    int FWidth;
    int FHeight;
    std::vector<TCompactImage> FImages;
    std::size_t FPackedBytes = 0;
    std::size_t FCacheLimit = DefaultCacheLimit;
    // Most recently used first.
    mutable std::list<std::pair<int, QPixmap>> FCache;
    mutable std::unordered_map<int, std::list<std::pair<int, QPixmap>>::iterator> FCacheIndex;
    mutable std::size_t FCachedBytes = 0;
};

class TListView : public QListWidget {
    Q_OBJECT
public:
    explicit TListView(QWidget *parent = nullptr);

    HWND Handle() const { return FHandle.Handle(); }

    void SetLargeImages(TImageList *images);
    TImageList *LargeImages() const { return FImages; }

    int AddItem(const std::string &caption, int imageIndex = -1);
    // An item put in at index (the end when index is past it); returns where it went.
    int InsertItem(int index, const std::string &caption, int imageIndex = -1);
    void RemoveItem(int index);
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
    void FitCacheToView();

    TImageList *FImages = nullptr;
    int FUpdateCount = 0;
    QWidget *FCover = nullptr;
    TWindowHandle FHandle;
};
