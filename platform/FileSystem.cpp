#include "FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}

bool Match(const char *n, const char *p) {
    // Iterative wildcard match with one backtrack point: linear in practice, no recursion
    // blow-up on hostile names.
    const char *starP = nullptr, *starN = nullptr;
    while (*n) {
        if (*p == '*') {
            starP = ++p;
            starN = n;
        } else if (*p == '?' || (*p && Upper(*p) == Upper(*n))) {
            ++p;
            ++n;
        } else if (starP) {
            p = starP;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (*p == '*')
        ++p;
    return *p == 0;
}

} // namespace

bool MatchesMask(const std::string &name, const std::string &pattern) {
    if (pattern == "*.*" || pattern == "*")
        return true;
    return Match(name.c_str(), pattern.c_str());
}

bool SearchOrderLess(const std::string &a, const std::string &b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto ua = static_cast<unsigned char>(Upper(a[i]));
        const auto ub = static_cast<unsigned char>(Upper(b[i]));
        if (ua != ub)
            return ua < ub;
    }
    if (a.size() != b.size())
        return a.size() < b.size();
    return a < b; // raw bytes: "A" before "a"
}

bool TFileSearch::FindFirst(const std::string &pathPattern, std::uint32_t attrMask) {
    FindClose();
    const auto slash = pathPattern.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string(".")
                               : slash == 0               ? std::string("/")
                                                          : pathPattern.substr(0, slash);
    const std::string pattern =
        slash == std::string::npos ? pathPattern : pathPattern.substr(slash + 1);
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return false;
    DIR *dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return false;
    }
    while (dirent *e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        const bool hidden = name[0] == '.';
        if (hidden && !(attrMask & faHidden))
            continue;
        if (!MatchesMask(name, pattern))
            continue;
        // Follows symbolic links: a link to a picture is a picture; a link to a folder or a
        // pipe is not a file.
        struct stat st;
        if (::fstatat(dirFd, e->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode))
            continue;
        TSearchRec rec;
        rec.Name = name;
        rec.Size = st.st_size;
        rec.Attr =
            faArchive | (hidden ? faHidden : 0u) | ((st.st_mode & 0222) == 0 ? faReadOnly : 0u);
        FFound.push_back(std::move(rec));
    }
    ::closedir(dir); // closes dirFd too
    std::sort(FFound.begin(), FFound.end(), [](const TSearchRec &a, const TSearchRec &b) {
        return SearchOrderLess(a.Name, b.Name);
    });
    return FindNext();
}

bool TFileSearch::FindNext() {
    if (FNext >= FFound.size())
        return false;
    FCurrent = std::move(FFound[FNext++]);
    return true;
}

void TFileSearch::FindClose() {
    FFound.clear();
    FNext = 0;
}

std::string IncludeTrailingPathDelimiter(const std::string &path) {
    return (!path.empty() && path.back() == '/') ? path : path + "/";
}

std::string ExtractFileName(const std::string &path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ExtractFilePath(const std::string &path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ExtractFileDir(const std::string &path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return std::string();
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string ExtensionKey(const std::string &name) {
    const std::string file = ExtractFileName(name);
    const auto dot = file.find_last_of('.');
    if (dot == std::string::npos)
        return std::string();
    std::string ext = file.substr(dot, 4);
    for (char &c : ext)
        c = Upper(c);
    return ext;
}
