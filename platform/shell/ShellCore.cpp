// The shell namespace over the file system: the allocator, the desktop folder, folders, and
// item id lists.
#include "ShellApi.h"

#include <QFile>
#include <QStandardPaths>

#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

#include "ShellExtract.h"
#include "Text.h"

const GUID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const GUID IID_IShellFolder = {0x000214E6, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const GUID IID_IExtractImage = {
    0xBB2E617C, 0x0920, 0x11D1, {0x9A, 0x0B, 0x00, 0xC0, 0x4F, 0xC2, 0xD6, 0xC1}};
const GUID IID_IRunnableTask = {
    0x85788D00, 0x6807, 0x11D0, {0xB8, 0x10, 0x00, 0xC0, 0x4F, 0xD7, 0x06, 0xEC}};
const GUID IID_IMalloc = {0x00000002, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

namespace {

class TShellMalloc final : public IMalloc {
public:
    HRESULT QueryInterface(REFIID iid, void **out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IMalloc) {
            *out = static_cast<IMalloc *>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    // One allocator for the process, never freed.
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    void *Alloc(std::size_t size) override { return std::malloc(size ? size : 1); }
    void *Realloc(void *p, std::size_t size) override { return std::realloc(p, size ? size : 1); }
    void Free(void *p) override { std::free(p); }
};

TShellMalloc theMalloc;

// Builds a list naming path. Paths longer than one element can hold are refused.
LPITEMIDLIST MakeIDList(const std::string &path) {
    if (path.size() + 2 > 0xFFFF)
        return nullptr;
    const std::size_t cb = 2 + path.size();
    auto *p = static_cast<std::uint8_t *>(theMalloc.Alloc(cb + 2));
    if (!p)
        return nullptr;
    const std::uint16_t len = std::uint16_t(cb);
    std::memcpy(p, &len, 2);
    std::memcpy(p + 2, path.data(), path.size());
    p[cb] = 0;
    p[cb + 1] = 0;
    return reinterpret_cast<LPITEMIDLIST>(p);
}

bool IsDirectory(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string &path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

class TFileSystemFolder final : public TComObject<IShellFolder> {
public:
    explicit TFileSystemFolder(std::string path) : FPath(std::move(path)) {}

    HRESULT QueryInterface(REFIID iid, void **out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IShellFolder) {
            AddRef();
            *out = static_cast<IShellFolder *>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }

    HRESULT ParseDisplayName(HWND, void *, const char *name, ULONG *eaten, LPITEMIDLIST *pidl,
                             ULONG *attributes) override {
        if (!pidl)
            return E_POINTER;
        *pidl = nullptr;
        if (attributes)
            *attributes = 0;
        if (!name || !*name)
            return E_INVALIDARG;
        std::string path;
        if (FPath == "/") {
            // The desktop takes whole paths and the documents folder's name.
            if (std::strcmp(name, CSIDL_PERSONAL_NAME) == 0) {
                const QString docs =
                    QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
                path = TextToPath(docs);
                if (docs.isEmpty() || !IsDirectory(path))
                    return E_FILE_NOT_FOUND;
            } else if (name[0] == '/') {
                path = name;
            } else {
                path = "/" + std::string(name);
            }
        } else {
            if (std::strchr(name, '/'))
                return E_INVALIDARG;
            path = FPath + "/" + name;
        }
        if (!Exists(path))
            return E_FILE_NOT_FOUND;
        *pidl = MakeIDList(path);
        if (!*pidl)
            return E_OUTOFMEMORY;
        if (eaten)
            *eaten = ULONG(std::strlen(name));
        return S_OK;
    }

    HRESULT BindToObject(LPCITEMIDLIST pidl, void *, REFIID iid, void **out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        const std::string path = PathFromIDList(pidl);
        if (path.empty())
            return E_INVALIDARG;
        if (!IsDirectory(path))
            return Exists(path) ? HRESULT_FROM_WIN32(267) : E_FILE_NOT_FOUND;
        auto *folder = new TFileSystemFolder(path);
        const HRESULT hr = folder->QueryInterface(iid, out);
        folder->Release();
        return hr;
    }

    HRESULT GetUIObjectOf(HWND, UINT count, const LPCITEMIDLIST *pidls, REFIID iid, UINT *,
                          void **out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (count != 1 || !pidls || !pidls[0])
            return E_INVALIDARG;
        if (!(iid == IID_IExtractImage))
            return E_NOINTERFACE;
        return CreateExtractImage(PathFromIDList(pidls[0]), out);
    }

private:
    std::string FPath;
};

} // namespace

HRESULT SHGetMalloc(IMalloc **out) {
    if (!out)
        return E_POINTER;
    *out = &theMalloc;
    return S_OK;
}

HRESULT SHGetDesktopFolder(IShellFolder **out) {
    if (!out)
        return E_POINTER;
    *out = new TFileSystemFolder("/");
    return S_OK;
}

std::string PathFromIDList(LPCITEMIDLIST pidl) {
    if (!pidl)
        return std::string();
    std::uint16_t cb;
    std::memcpy(&cb, pidl, 2);
    if (cb < 2)
        return std::string();
    return std::string(reinterpret_cast<const char *>(pidl) + 2, cb - 2);
}
