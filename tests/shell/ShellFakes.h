// Stand-in extractors and a recording window for the extractor thread's tests.
#pragma once

#include <QImage>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "Graphics.h"
#include "Messages.h"
#include "ShellApi.h"
#include "ShellExtract.h"
#include "TestUtil.h"

namespace shelltest {

// What a fake extractor does for one file.
struct FakeBehaviour {
    bool Fail = false;    // Extract answers E_FAIL
    QSize Size{120, 120}; // picture handed out
    QRgb Colour = qRgb(200, 0, 0);
    QImage Picture;        // when set, handed out instead of a plain colour
    DWORD ReturnFlags = 0; // added to the flags by GetLocation
    bool OfferTask = true; // answers IRunnableTask
    bool BlockUntilKilled = false;
    bool OutOfMemory = false; // Extract runs out of memory
};

class FakeExtractor final : public TComObject<IExtractImage, IRunnableTask> {
public:
    explicit FakeExtractor(FakeBehaviour b) : FB(std::move(b)) {}

    HRESULT QueryInterface(REFIID iid, void **out) override {
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IExtractImage)
            *out = static_cast<IExtractImage *>(this);
        else if (iid == IID_IRunnableTask && FB.OfferTask)
            *out = static_cast<IRunnableTask *>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    HRESULT GetLocation(char16_t *path, DWORD capacity, DWORD *, const SIZE *size, DWORD depth,
                        DWORD *flags) override {
        // The whole buffer as the caller states it: a stated size beyond the real one overruns.
        for (DWORD i = 0; i < capacity; ++i)
            path[i] = u'x';
        path[capacity - 1] = 0;
        {
            std::lock_guard lock(FMutex);
            AskedCapacity = capacity;
            AskedSize = size ? QSize(int(size->cx), int(size->cy)) : QSize();
            AskedDepth = depth;
            AskedFlags = *flags;
        }
        const bool async = *flags & IEIFLAG_ASYNC;
        *flags |= FB.ReturnFlags;
        return async ? E_PENDING : S_OK;
    }
    HRESULT Extract(HBITMAP *bitmap) override {
        *bitmap = nullptr;
        if (FB.BlockUntilKilled) {
            Started = true;
            std::unique_lock lock(FMutex);
            FKilledCv.wait_for(lock, std::chrono::seconds(20), [&] { return Killed.load(); });
            // Hands a picture back anyway, as a slow extractor might.
        }
        if (FB.OutOfMemory)
            throw std::bad_alloc();
        if (FB.Fail)
            return E_FAIL;
        if (!FB.Picture.isNull()) {
            *bitmap = new QImage(FB.Picture);
        } else {
            *bitmap = new QImage(FB.Size, QImage::Format_RGB32);
            (*bitmap)->fill(FB.Colour);
        }
        return S_OK;
    }
    HRESULT Run() override { return E_NOTIMPL; }
    HRESULT Kill(BOOL) override {
        {
            std::lock_guard lock(FMutex);
            Killed = true;
        }
        FKilledCv.notify_all();
        return S_OK;
    }
    HRESULT Suspend() override { return E_NOTIMPL; }
    HRESULT Resume() override { return E_NOTIMPL; }
    ULONG IsRunning() override { return 0; }

    // What the thread asked for: size, colour depth and flags.
    struct TAsked {
        QSize Size;
        DWORD Depth, Flags, Capacity; // Capacity: the path buffer's stated characters
    };
    TAsked Asked() {
        std::lock_guard lock(FMutex);
        return {AskedSize, AskedDepth, AskedFlags, AskedCapacity};
    }

    std::atomic<bool> Killed{false};
    std::atomic<bool> Started{false};

private:
    FakeBehaviour FB;
    QSize AskedSize;
    DWORD AskedDepth = 0, AskedFlags = 0, AskedCapacity = 0;
    std::mutex FMutex;
    std::condition_variable FKilledCv;
};

// Installs fakes by file name (the part after the last '/') for the lifetime of the object;
// files without an entry get the default behaviour. Keeps every extractor it made.
class FakeFactory {
public:
    FakeFactory()
        : FScope(testutil::ChangeServices([this](TPlatformServices &s) {
              s.CreateExtractImage = [this](const std::string &path, void **out) {
                  return Create(path, out);
              };
          })) {}
    FakeFactory(const FakeFactory &) = delete;
    FakeFactory &operator=(const FakeFactory &) = delete;

    std::vector<ComPtr<FakeExtractor>> Extractors() {
        std::lock_guard lock(FMutex);
        return Made;
    }

    std::map<std::string, FakeBehaviour> Behaviours;
    FakeBehaviour Default;

private:
    HRESULT Create(const std::string &path, void **out) {
        const std::string name = path.substr(path.rfind('/') + 1);
        std::lock_guard lock(FMutex);
        auto it = Behaviours.find(name);
        if (it != Behaviours.end() && it->second.Fail && it->second.Size.isEmpty()) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        auto *fake = new FakeExtractor(it == Behaviours.end() ? Default : it->second);
        fake->AddRef();
        Made.emplace_back(fake);
        *out = static_cast<IExtractImage *>(fake);
        return S_OK;
    }

    std::mutex FMutex;
    std::vector<ComPtr<FakeExtractor>> Made;
    std::unique_ptr<TServicesScope> FScope; // last: dropped first
};

// Decodes ahead that run until they are killed (or at once, for the Quick names), installed for the
// lifetime of the object. Counts how many begin and how many run at once, and calls OnEnd (on the
// worker) as each one returns.
class FakePrefetches {
public:
    FakePrefetches()
        : FScope(testutil::ChangeServices([this](TPlatformServices &s) {
              s.CreateThumbnailPrefetch = [this](const std::string &path, void **out) {
                  *out = static_cast<IRunnableTask *>(new Task(*this, path));
                  return S_OK;
              };
          })) {}
    FakePrefetches(const FakePrefetches &) = delete;
    FakePrefetches &operator=(const FakePrefetches &) = delete;

    // Waits, without running the event loop, until n have begun.
    bool WaitStarted(int n) {
        std::unique_lock lock(FMutex);
        return FChanged.wait_for(lock, std::chrono::seconds(20), [&] { return FStarted >= n; });
    }
    int Started() {
        std::lock_guard lock(FMutex);
        return FStarted;
    }
    int Running() {
        std::lock_guard lock(FMutex);
        return FRunning;
    }
    int MostAtOnce() {
        std::lock_guard lock(FMutex);
        return FMost;
    }
    // Whether every one that began has been killed.
    bool AllKilled() {
        std::lock_guard lock(FMutex);
        return FKilled == FStarted;
    }

    std::function<void(const std::string &path)> OnEnd;
    // File names whose decode ends at once.
    std::set<std::string> Quick;

private:
    class Task final : public TComObject<IRunnableTask> {
    public:
        Task(FakePrefetches &owner, std::string path) : FOwner(owner), FPath(std::move(path)) {}
        HRESULT QueryInterface(REFIID, void **out) override {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        HRESULT Run() override {
            std::unique_lock lock(FOwner.FMutex);
            ++FOwner.FStarted;
            FOwner.FMost = std::max(FOwner.FMost, ++FOwner.FRunning);
            FOwner.FChanged.notify_all();
            const bool quick = FOwner.Quick.count(FPath.substr(FPath.rfind('/') + 1)) > 0;
            FOwner.FChanged.wait_for(lock, std::chrono::seconds(20),
                                     [&] { return quick || FKilled; });
            --FOwner.FRunning;
            lock.unlock();
            if (FOwner.OnEnd)
                FOwner.OnEnd(FPath);
            return E_ABORT;
        }
        HRESULT Kill(BOOL) override {
            std::lock_guard lock(FOwner.FMutex);
            if (!FKilled)
                ++FOwner.FKilled;
            FKilled = true;
            FOwner.FChanged.notify_all();
            return S_OK;
        }
        HRESULT Suspend() override { return E_NOTIMPL; }
        HRESULT Resume() override { return E_NOTIMPL; }
        ULONG IsRunning() override { return 0; }

    private:
        FakePrefetches &FOwner;
        std::string FPath;
        bool FKilled = false; // guarded by the owner's mutex
    };

    std::mutex FMutex;
    std::condition_variable FChanged;
    int FStarted = 0, FRunning = 0, FMost = 0, FKilled = 0;
    std::unique_ptr<TServicesScope> FScope;
};

} // namespace shelltest
