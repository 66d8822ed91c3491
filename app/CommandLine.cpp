#include "CommandLine.h"

#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "FileSystem.h"
#include "RawFormats.h"
#include "ThumbsMain.h"
#include "main.h"
#include "view.h"

namespace {

// The absolute form of path, with "." and ".." worked out and no trailing "/" but for the
// root. Done on the bytes: a file name need not be valid in any encoding.
std::string AbsolutePath(const std::string &path) {
    std::string full = path;
    if (full.empty() || full[0] != '/') {
        std::vector<char> cwd(4096);
        if (!::getcwd(cwd.data(), cwd.size()))
            return {};
        full = std::string(cwd.data()) + "/" + full;
    }
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= full.size()) {
        std::size_t end = full.find('/', start);
        if (end == std::string::npos)
            end = full.size();
        const std::string part = full.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string clean;
    for (const std::string &part : parts)
        clean += "/" + part;
    return clean.empty() ? "/" : clean;
}

} // namespace

TStartRequest ParseCommandLine(const std::vector<std::string> &args, std::string &error) {
    error.clear();
    if (args.empty())
        return {};
    const std::string &arg = args.front();
    if (args.size() > 1)
        error = "pixavant: only one folder or picture is opened; ignoring \"" + args[1] +
                (args.size() > 2 ? "\" and the rest" : "\"") + "\n";
    const std::string absolute = arg.empty() ? std::string() : AbsolutePath(arg);
    struct stat st {};
    if (absolute.empty() || ::stat(absolute.c_str(), &st) != 0) {
        error += "pixavant: \"" + arg + "\": no such file or folder; starting as usual\n";
        return {};
    }
    // access() answers for this user, ACLs included.
    if (S_ISDIR(st.st_mode)) {
        // Listing a folder needs both reading and searching it.
        if (::access(absolute.c_str(), R_OK | X_OK) != 0) {
            error += "pixavant: \"" + arg + "\": the folder cannot be read; starting as usual\n";
            return {};
        }
        return {absolute, {}};
    }
    if (::access(absolute.c_str(), R_OK) != 0) {
        error += "pixavant: \"" + arg + "\": the file cannot be read; starting as usual\n";
        return {};
    }
    std::string folder = ExtractFilePath(absolute);
    if (folder.size() > 1)
        folder.pop_back(); // no trailing "/" except for the root
    return {folder, ExtractFileName(absolute)};
}

std::string ListEntryForFile(const std::string &name) {
    // The RAW pass writes a thumbnail file beside the RAW file, and that is what the list
    // shows.
    return IsRawFileName(name) ? ExtractFileName(ThumbnailPath("/", "", name)) : name;
}

bool StartOn(TMainForm &main, const TStartRequest &request, std::string &error) {
    error.clear();
    // A picture is on the screen at once; its folder's scan and RAW pass follow behind it.
    const std::string entry = request.File.empty() ? std::string() : ListEntryForFile(request.File);
    const bool shownFirst = !entry.empty() && IsListedName(entry) && viewForm;
    if (shownFirst) {
        viewForm->OpenPicture(PictureForEntry(IncludeTrailingPathDelimiter(request.Folder) + entry),
                              entry);
        viewForm->Show();
    }
    if (!request.Folder.empty())
        main.SetSelFolder(request.Folder);
    const int scansBefore = main.ScanCount();
    main.OpenStartFolder(); // scans the folder from a queued call
    // The scan runs its RAW pass one file per event-loop turn; the list holds the folder's
    // entries once the listing has started the extractor (or found nothing to extract).
    QPointer<TMainForm> alive(&main);
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!alive ||
            (main.ScanCount() > scansBefore && (main.Scan().State() == TScanState::Extracting ||
                                                main.Scan().State() == TScanState::Idle)))
            loop.quit();
    });
    poll.start(10);
    loop.exec();
    if (!alive)
        return false;
    if (request.File.empty())
        return true;
    if (main.SelFolder() != request.Folder) {
        error =
            "pixavant: another folder was chosen before \"" + request.File + "\" could be opened\n";
        return false;
    }
    for (int i = 0; i < main.List()->Count(); ++i)
        if (main.List()->Caption(i) == entry) {
            main.List()->SetItemIndex(i);
            if (!shownFirst)
                main.Button1Click();
            else if (viewForm)
                viewForm->ScheduleReadAhead();
            return true;
        }
    error =
        "pixavant: \"" + request.File + "\" is not a picture Pixavant shows; its folder is open\n";
    return false;
}
