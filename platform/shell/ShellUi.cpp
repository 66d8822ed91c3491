#include "ShellUi.h"

#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QUrl>

#include <cstring>

#include "Messages.h"
#include "Services.h"
#include "Text.h"

namespace {

// The dialog's own handle, so the callback can send it the preselection.
struct BrowseDialogState {
    std::string selection;
};

} // namespace

LPITEMIDLIST SHBrowseForFolderA(BROWSEINFOA *info) {
    if (!info)
        return nullptr;
    BrowseDialogState state;
    TWindowHandle dialogHandle(nullptr, [&state](TMessage &m) {
        if (m.Msg == BFFM_SETSELECTIONA && m.WParam == 1 && m.LParam)
            state.selection = reinterpret_cast<const char *>(m.LParam);
    });
    if (info->lpfn)
        info->lpfn(dialogHandle.Handle(), BFFM_INITIALIZED, 0, info->lParam);

    const std::string title = info->lpszTitle ? info->lpszTitle : "";
    std::string chosen;
    if (const auto browse = CurrentServices().BrowseForFolder) {
        chosen = browse(title, state.selection);
    } else {
        const QString dir = QFileDialog::getExistingDirectory(
            WindowFromHandle(info->hwndOwner), QString::fromUtf8(title.c_str()),
            PathToText(state.selection), QFileDialog::ShowDirsOnly);
        if (!dir.isEmpty())
            chosen = TextToPath(dir);
    }
    if (chosen.empty())
        return nullptr;
    ComPtr<IShellFolder> desktop;
    if (FAILED(SHGetDesktopFolder(desktop.Put())))
        return nullptr;
    LPITEMIDLIST pidl = nullptr;
    if (FAILED(desktop->ParseDisplayName(0, nullptr, chosen.c_str(), nullptr, &pidl, nullptr)))
        return nullptr;
    if (info->pszDisplayName) {
        const auto slash = chosen.find_last_of('/');
        std::string name = slash == std::string::npos ? chosen : chosen.substr(slash + 1);
        if (name.empty())
            name = "/";
        name = name.substr(0, MAX_PATH - 1);
        std::memcpy(info->pszDisplayName, name.c_str(), name.size() + 1);
    }
    return pidl;
}

std::intptr_t ShellExecuteA(HWND, const char *, const char *file, const char *, const char *, int) {
    if (!file || !*file)
        return 2;
    QString target = QString::fromUtf8(file);
    QUrl url;
    if (target.startsWith('/'))
        url = QUrl::fromLocalFile(PathToText(file));
    else if (target.contains(':'))
        url = QUrl(target);
    else
        url = QUrl("https://" + target); // a bare host name, as links are written
    return QDesktopServices::openUrl(url) ? 42 : 2;
}
