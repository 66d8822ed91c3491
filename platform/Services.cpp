#include "Services.h"

#include <mutex>
#include <utility>

namespace {

std::mutex servicesMutex;

TPlatformServices &Installed() {
    static TPlatformServices services;
    return services;
}

} // namespace

TPlatformServices CurrentServices() {
    std::lock_guard lock(servicesMutex);
    return Installed();
}

TServicesScope::TServicesScope(TPlatformServices services) {
    std::lock_guard lock(servicesMutex);
    FPrevious = std::exchange(Installed(), std::move(services));
}

TServicesScope::~TServicesScope() {
    std::lock_guard lock(servicesMutex);
    Installed() = std::move(FPrevious);
}
