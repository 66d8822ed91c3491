#include "ShellExtract.h"

#include <mutex>

namespace {
std::mutex factoryMutex;
ExtractImageFactory &Factory()
{
    static ExtractImageFactory factory;
    return factory;
}
} // namespace

void SetExtractImageFactoryForTesting(ExtractImageFactory factory)
{
    std::lock_guard lock(factoryMutex);
    Factory() = std::move(factory);
}

HRESULT CreateExtractImage(const std::string &path, void **out)
{
    ExtractImageFactory factory;
    {
        std::lock_guard lock(factoryMutex);
        factory = Factory();
    }
    if (factory)
        return factory(path, out);
    if (out)
        *out = nullptr;
    return E_NOINTERFACE;
}

std::string ThumbnailCachePath(const std::string &, bool) { return {}; }
std::string ThumbnailFailPath(const std::string &) { return {}; }
std::string ThumbnailUri(const std::string &) { return {}; }
