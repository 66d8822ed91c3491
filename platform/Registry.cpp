#include "Registry.h"

#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <unistd.h>

#include "Services.h"

namespace {

constexpr HKEY CurrentVersionKey = 0x1001;
const char *const CurrentVersionPath = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

std::optional<std::string> SystemValue(const std::string &name) {
    if (name == "RegisteredOwner") {
        const passwd *pw = ::getpwuid(::getuid());
        return OwnerName(pw ? pw->pw_gecos : nullptr, pw ? pw->pw_name : nullptr,
                         std::getenv("USER"));
    }
    if (name == "RegisteredOrganization") {
        if (const char *org = std::getenv("ORGANIZATION"))
            return std::string(org);
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> OwnerName(const char *gecos, const char *login, const char *user) {
    std::string fullName = gecos ? gecos : "";
    fullName = fullName.substr(0, fullName.find(','));
    if (!fullName.empty())
        return fullName;
    if (login && *login)
        return std::string(login);
    if (user)
        return std::string(user);
    return std::nullopt;
}

LONG RegOpenKeyA(HKEY key, const char *subKey, HKEY *result) {
    if (key != HKEY_LOCAL_MACHINE || !subKey || !result ||
        std::strcmp(subKey, CurrentVersionPath) != 0)
        return ERROR_FILE_NOT_FOUND;
    *result = CurrentVersionKey;
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, const char *valueName, DWORD *, DWORD *type, unsigned char *data,
                      DWORD *size) {
    if (key != CurrentVersionKey || !valueName)
        return ERROR_FILE_NOT_FOUND;
    const auto stand = CurrentServices().RegistryValue;
    const std::optional<std::string> value = stand ? stand(valueName) : SystemValue(valueName);
    if (!value)
        return ERROR_FILE_NOT_FOUND;
    if (type)
        *type = REG_SZ;
    const DWORD needed = DWORD(value->size() + 1);
    if (!size)
        return data ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
    if (!data || *size < needed) {
        *size = needed;
        return data ? ERROR_MORE_DATA : ERROR_SUCCESS;
    }
    std::memcpy(data, value->c_str(), needed);
    *size = needed;
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
    return key == CurrentVersionKey ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}
