// The COM-shaped shell interfaces the program uses, over the file system. Item id lists hold
// absolute paths as bytes, so no file name is ever re-encoded; the desktop folder is "/".
#pragma once

#include <QImage>

#include <atomic>
#include <cstdint>
#include <string>

#include "WinTypes.h"

using ULONG = std::uint32_t;

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
    friend bool operator==(const GUID &, const GUID &) = default;
};
using REFIID = const GUID &;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = HRESULT(0x80004001u);
constexpr HRESULT E_NOINTERFACE = HRESULT(0x80004002u);
constexpr HRESULT E_POINTER = HRESULT(0x80004003u);
constexpr HRESULT E_ABORT = HRESULT(0x80004004u);
constexpr HRESULT E_FAIL = HRESULT(0x80004005u);
constexpr HRESULT E_PENDING = HRESULT(0x8000000Au);
constexpr HRESULT E_OUTOFMEMORY = HRESULT(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = HRESULT(0x80070057u);
constexpr HRESULT HRESULT_FROM_WIN32(DWORD code) {
    return code == 0 ? S_OK : HRESULT(0x80070000u | (code & 0xFFFFu));
}
constexpr HRESULT E_FILE_NOT_FOUND = HRESULT(0x80070002u);
constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}
constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}

constexpr int MAX_PATH = 260;

extern const GUID IID_IUnknown;
extern const GUID IID_IShellFolder;
extern const GUID IID_IExtractImage;
extern const GUID IID_IRunnableTask;
extern const GUID IID_IMalloc;

class IUnknown {
public:
    virtual HRESULT QueryInterface(REFIID iid, void **out) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    virtual ~IUnknown() = default;
};

// Reference counting shared by the implementations (thread-safe: a task's Kill may come from
// another thread than the one that made it).
template <class... Interfaces> class TComObject : public Interfaces... {
public:
    ULONG AddRef() override { return ++FRefCount; }
    ULONG Release() override {
        const ULONG n = --FRefCount;
        if (n == 0)
            delete this;
        return n;
    }

protected:
    virtual ~TComObject() = default;

private:
    std::atomic<ULONG> FRefCount{1};
};

// An owning interface reference.
template <class T> class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    explicit ComPtr(T *p) : FPtr(p) {} // adopts a reference
    ComPtr(const ComPtr &o) : FPtr(o.FPtr) {
        if (FPtr)
            FPtr->AddRef();
    }
    ComPtr(ComPtr &&o) noexcept : FPtr(o.FPtr) { o.FPtr = nullptr; }
    ComPtr &operator=(ComPtr o) noexcept {
        std::swap(FPtr, o.FPtr);
        return *this;
    }
    ~ComPtr() { Reset(); }
    void Reset() {
        if (FPtr)
            FPtr->Release();
        FPtr = nullptr;
    }
    T *Get() const { return FPtr; }
    T *operator->() const { return FPtr; }
    explicit operator bool() const { return FPtr != nullptr; }
    // Clears and gives the address to fill, as out parameters want.
    T **Put() {
        Reset();
        return &FPtr;
    }
    void **PutVoid() { return reinterpret_cast<void **>(Put()); }
    T *Detach() {
        T *p = FPtr;
        FPtr = nullptr;
        return p;
    }

private:
    T *FPtr = nullptr;
};

class IMalloc : public IUnknown {
public:
    virtual void *Alloc(std::size_t size) = 0;
    virtual void *Realloc(void *p, std::size_t size) = 0;
    virtual void Free(void *p) = 0;
};

// An item id list: one element holding an absolute path's bytes, then a zero terminator.
struct SHITEMID {
    std::uint16_t cb;
    std::uint8_t abID[1];
};
struct ITEMIDLIST {
    SHITEMID mkid;
};
using LPITEMIDLIST = ITEMIDLIST *;
using LPCITEMIDLIST = const ITEMIDLIST *;

class IShellFolder : public IUnknown {
public:
    // name is a path (the desktop) or a name inside this folder, as bytes.
    virtual HRESULT ParseDisplayName(HWND owner, void *bindCtx, const char *name, ULONG *eaten,
                                     LPITEMIDLIST *pidl, ULONG *attributes) = 0;
    virtual HRESULT BindToObject(LPCITEMIDLIST pidl, void *bindCtx, REFIID iid, void **out) = 0;
    virtual HRESULT GetUIObjectOf(HWND owner, UINT count, const LPCITEMIDLIST *pidls, REFIID iid,
                                  UINT *reserved, void **out) = 0;
};

struct SIZE {
    LONG cx;
    LONG cy;
};

// The bitmap an extractor hands out; the receiver owns (deletes) it.
using HBITMAP = QImage *;

constexpr DWORD IEIFLAG_ASYNC = 0x0001;
constexpr DWORD IEIFLAG_CACHE = 0x0002;
constexpr DWORD IEIFLAG_ASPECT = 0x0004;
constexpr DWORD IEIFLAG_OFFLINE = 0x0008;
constexpr DWORD IEIFLAG_GLEAM = 0x0010;
constexpr DWORD IEIFLAG_SCREEN = 0x0020;
constexpr DWORD IEIFLAG_ORIGSIZE = 0x0040;
constexpr DWORD IEIFLAG_NOSTAMP = 0x0080;
constexpr DWORD IEIFLAG_NOBORDER = 0x0100;
constexpr DWORD IEIFLAG_QUALITY = 0x0200;

class IExtractImage : public IUnknown {
public:
    virtual HRESULT GetLocation(char16_t *pathBuffer, DWORD capacity, DWORD *priority,
                                const SIZE *size, DWORD colorDepth, DWORD *flags) = 0;
    virtual HRESULT Extract(HBITMAP *bitmap) = 0;
};

class IRunnableTask : public IUnknown {
public:
    virtual HRESULT Run() = 0;
    virtual HRESULT Kill(BOOL wait) = 0;
    virtual HRESULT Suspend() = 0;
    virtual HRESULT Resume() = 0;
    virtual ULONG IsRunning() = 0;
};

// What IRunnableTask::IsRunning answers.
constexpr ULONG IRTIR_TASK_NOT_RUNNING = 0;
constexpr ULONG IRTIR_TASK_RUNNING = 1;
constexpr ULONG IRTIR_TASK_SUSPENDED = 2;
constexpr ULONG IRTIR_TASK_PENDING = 3;
constexpr ULONG IRTIR_TASK_FINISHED = 4;

// COM apartments have no meaning here; the calls are kept so threads read as they should.
constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;
inline HRESULT CoInitializeEx(void *, DWORD) {
    return S_OK;
}
inline void CoUninitialize() {}

HRESULT SHGetMalloc(IMalloc **out);
HRESULT SHGetDesktopFolder(IShellFolder **out);
// The path the list names (empty for none).
std::string PathFromIDList(LPCITEMIDLIST pidl);

// The documents folder's display name.
inline constexpr const char *CSIDL_PERSONAL_NAME = "::{450d8fba-ad25-11d0-98a8-0800361b1103}";
