#include "ShellObjHelper.h"

#include <functional>

#include "Dialogs.h"
#include "Exceptions.h"

namespace {

// Frees an item id list with the allocator it came from, on every path.
class TItemIdListGuard {
public:
    TItemIdListGuard(IMalloc *malloc, LPITEMIDLIST &list) : FMalloc(malloc), FList(list) {}
    ~TItemIdListGuard() {
        if (FList && FMalloc)
            FMalloc->Free(FList);
        FList = nullptr;
    }
    TItemIdListGuard(const TItemIdListGuard &) = delete;
    TItemIdListGuard &operator=(const TItemIdListGuard &) = delete;

private:
    IMalloc *FMalloc;
    LPITEMIDLIST &FList;
};

bool ExtractInto(IExtractImage *extractImage, int width, int height, unsigned colorDepth,
                 DWORD &flags, const std::function<void(ComPtr<IRunnableTask>)> &storeTask,
                 std::unique_ptr<TBitmap> &bitmap) {
    storeTask(nullptr);
    if (!extractImage)
        return false;
    const SIZE size{width, height};
    DWORD priority = 0;
    flags |= IEIFLAG_ASYNC;
    char16_t path[MAX_PATH + 1] = {};
    const HRESULT hr =
        extractImage->GetLocation(path, MAX_PATH + 1, &priority, &size, colorDepth, &flags);
    if (hr != S_OK && hr != E_PENDING)
        return false;
    if (hr == E_PENDING) {
        ComPtr<IRunnableTask> task;
        if (SUCCEEDED(extractImage->QueryInterface(IID_IRunnableTask, task.PutVoid())) && task)
            storeTask(std::move(task));
    }
    bitmap = std::make_unique<TBitmap>();
    try {
        HBITMAP handle = nullptr;
        const HRESULT extracted = extractImage->Extract(&handle);
        std::unique_ptr<QImage> owned(handle);
        OleCheck(extracted);
        if (!owned || owned->isNull())
            throw EOleSysError(E_FAIL);
        *bitmap = TBitmap(*owned);
        return true;
    } catch (const EOleSysError &e) {
        OutputDebugStringA(std::string(e.ClassName()) + ": " + e.Message());
        bitmap.reset();
        return false;
    } catch (...) {
        bitmap.reset();
        throw;
    }
}

} // namespace

void ParseItemName(IShellFolder *folder, const std::string &name, LPITEMIDLIST &itemIdList) {
    itemIdList = nullptr;
    if (!folder)
        throw EOleSysError(E_POINTER);
    ULONG eaten = 0;
    OleCheck(folder->ParseDisplayName(0, nullptr, name.c_str(), &eaten, &itemIdList, nullptr));
}

void BindFolderObject(IShellFolder *folder, LPCITEMIDLIST itemIdList, REFIID iid, void **out) {
    if (out)
        *out = nullptr;
    if (!folder)
        throw EOleSysError(E_POINTER);
    OleCheck(folder->BindToObject(itemIdList, nullptr, iid, out));
}

bool GetItemUIObject(IShellFolder *folder, UINT count, const LPCITEMIDLIST *itemIdLists, REFIID iid,
                     void **out) {
    if (out)
        *out = nullptr;
    if (!folder)
        return false;
    const HRESULT hr = folder->GetUIObjectOf(0, count, itemIdLists, iid, nullptr, out);
    if (hr != S_OK && out && *out) {
        // A success code other than S_OK counts as no answer; do not leak what came with it.
        static_cast<IUnknown *>(*out)->Release();
        *out = nullptr;
    }
    return hr == S_OK;
}

void GetShellFolder(const std::string &folderPath, IMalloc *malloc,
                    ComPtr<IShellFolder> &shellFolder) {
    shellFolder.Reset();
    ComPtr<IShellFolder> desktop;
    OleCheck(SHGetDesktopFolder(desktop.Put()));
    LPITEMIDLIST list = nullptr;
    TItemIdListGuard guard(malloc, list);
    ParseItemName(desktop.Get(), folderPath, list);
    BindFolderObject(desktop.Get(), list, IID_IShellFolder, shellFolder.PutVoid());
}

bool GetExtractImage(IShellFolder *folder, const std::string &fileName, IMalloc *malloc,
                     ComPtr<IExtractImage> &extractImage) {
    extractImage.Reset();
    LPITEMIDLIST list = nullptr;
    TItemIdListGuard guard(malloc, list);
    ParseItemName(folder, fileName, list);
    LPCITEMIDLIST lists[1] = {list};
    return GetItemUIObject(folder, 1, lists, IID_IExtractImage, extractImage.PutVoid());
}

bool GetExtractImageForFile(const std::string &path, ComPtr<IExtractImage> &extractImage) {
    extractImage.Reset();
    const std::size_t slash = path.rfind('/');
    // The root is the one folder that keeps its separator.
    const std::string folder = slash == std::string::npos ? std::string()
                               : slash == 0               ? path.substr(0, 1)
                                                          : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    IMalloc *malloc = nullptr;
    OleCheck(SHGetMalloc(&malloc));
    ComPtr<IMalloc> mallocRef(malloc);
    ComPtr<IShellFolder> shellFolder;
    GetShellFolder(folder, malloc, shellFolder);
    return GetExtractImage(shellFolder.Get(), name, malloc, extractImage);
}

bool GetThumbnailBitmap(IExtractImage *extractImage, int width, int height, unsigned colorDepth,
                        DWORD &flags, ComPtr<IRunnableTask> &runnableTask,
                        std::unique_ptr<TBitmap> &bitmap) {
    return ExtractInto(
        extractImage, width, height, colorDepth, flags,
        [&](ComPtr<IRunnableTask> task) { runnableTask = std::move(task); }, bitmap);
}

bool GetThumbnailBitmap(IExtractImage *extractImage, int width, int height, unsigned colorDepth,
                        DWORD &flags, TRunnableTaskSlot &runnableTask,
                        std::unique_ptr<TBitmap> &bitmap) {
    return ExtractInto(
        extractImage, width, height, colorDepth, flags,
        [&](ComPtr<IRunnableTask> task) { runnableTask.Set(std::move(task)); }, bitmap);
}

bool GetFileIcon(const std::string &path, std::unique_ptr<TIcon> &icon) {
    SHFILEINFOA info{};
    if (SHGetFileInfoA(path.c_str(), FILE_ATTRIBUTE_ARCHIVE, &info, sizeof(info), SHGFI_ICON) ==
            0 ||
        !info.hIcon)
        return false;
    std::unique_ptr<TIconHandle> handle(info.hIcon);
    QIcon qicon = handle->Icon;
    if (qicon.isNull() && !handle->Image.isNull())
        qicon = QIcon(QPixmap::fromImage(handle->Image));
    if (qicon.isNull())
        return false;
    icon = std::make_unique<TIcon>(qicon, GetSystemMetrics(SM_CXICON));
    return true;
}

int GetSysIconIndex(const std::string &path) {
    SHFILEINFOA info{};
    SHGetFileInfoA(path.c_str(), 0, &info, sizeof(info), SHGFI_SYSICONINDEX);
    return info.iIcon;
}
