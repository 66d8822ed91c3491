// The desktop services the platform layer stands in for, gathered in one object so a test can
// replace them all in one place: message boxes, debugger lines, registry values, the folder
// dialog, the thumbnail extractors and the system image list. An empty function means the
// real service.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "WinTypes.h"

struct TPlatformServices {
    // As MessageBoxA: owner, text, caption, type; returns the button.
    std::function<int(HWND, const std::string &, const std::string &, UINT)> MessageBox;
    // As OutputDebugStringA.
    std::function<void(const std::string &)> DebugOutput;
    // A registry value by name; nullopt when it does not exist.
    std::function<std::optional<std::string>(const std::string &name)> RegistryValue;
    // The folder dialog: title and preselected folder in, the chosen path out (empty:
    // cancelled).
    std::function<std::string(const std::string &title, const std::string &initial)>
        BrowseForFolder;
    // As CreateExtractImage: the extractor a folder hands out for a file.
    std::function<HRESULT(const std::string &path, void **out)> CreateExtractImage;
    // As CreateThumbnailPrefetch: a task that fills the thumbnail cache for a file ahead of its
    // extraction. While CreateExtractImage stands in for the real extractors and this does not,
    // there is no cache to fill and nothing is done ahead.
    std::function<HRESULT(const std::string &path, void **out)> CreateThumbnailPrefetch;
    // False: the shell has no system image list (SHGetFileInfoA answers 0 for it).
    bool SystemImageListAvailable = true;
};

// A copy of the services in force. Safe from any thread.
TPlatformServices CurrentServices();

// Puts services in force for its lifetime and restores the ones before it when it ends. Built
// from CurrentServices() with a member changed, scopes nest.
class TServicesScope {
public:
    explicit TServicesScope(TPlatformServices services);
    ~TServicesScope();
    TServicesScope(const TServicesScope &) = delete;
    TServicesScope &operator=(const TServicesScope &) = delete;

private:
    TPlatformServices FPrevious;
};
