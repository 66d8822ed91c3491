// A read-only registry over the user database: under HKEY_LOCAL_MACHINE
// "SOFTWARE\Microsoft\Windows NT\CurrentVersion", "RegisteredOwner" is the user's full name
// (the GECOS field up to its first comma, else the login name) and "RegisteredOrganization" is
// $ORGANIZATION when set.
#pragma once

#include <optional>
#include <string>

#include "WinTypes.h"

using HKEY = std::uintptr_t;
constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;
constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr DWORD REG_SZ = 1;

LONG RegOpenKeyA(HKEY key, const char *subKey, HKEY *result);
// Copies the value with its terminating zero into data; size is in/out in bytes. A value that
// does not fit gives ERROR_MORE_DATA and the size it needs.
LONG RegQueryValueExA(HKEY key, const char *valueName, DWORD *reserved, DWORD *type,
                      unsigned char *data, DWORD *size);
LONG RegCloseKey(HKEY key);

// "RegisteredOwner" from an account entry: the GECOS field up to its first comma, else the login
// name, else user ($USER); any of them may be null.
std::optional<std::string> OwnerName(const char *gecos, const char *login, const char *user);
