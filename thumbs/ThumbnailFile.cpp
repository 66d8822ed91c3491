// Thumbnail file names, and writing a thumbnail file without ever exposing a half-written one
// or following a name someone else swapped in.
#include "ThumbnailFile.h"

#include <QRandomGenerator>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "DecodeSandbox.h"
#include "DecodeWire.h"
#include "Exceptions.h"
#include "FileSystem.h"
#include "JpegConv.h"

namespace {

[[noreturn]] void RaiseCreate(const std::string &path, int error) {
    throw EFCreateError("Cannot create file \"" + path + "\". " + std::strerror(error));
}

} // namespace

std::string RemoveAll(const std::string &part, const std::string &text) {
    std::string result = text;
    if (part.empty())
        return result;
    // A deletion can join two halves into a new occurrence, so the search starts over.
    for (auto pos = result.find(part); pos != std::string::npos; pos = result.find(part))
        result.erase(pos, part.size());
    return result;
}

std::string ThumbnailPath(const std::string &folder, const std::string &prefix,
                          const std::string &rawFile) {
    return IncludeTrailingPathDelimiter(folder) + prefix + ExtractFileName(rawFile) + ".JPG";
}

namespace {

// A descriptor closed on every way out.
class TDescriptor {
public:
    explicit TDescriptor(int fd) : FFd(fd) {}
    TDescriptor(const TDescriptor &) = delete;
    TDescriptor &operator=(const TDescriptor &) = delete;
    ~TDescriptor() {
        if (FFd >= 0)
            ::close(FFd);
    }
    int Fd() const { return FFd; }
    int Release() {
        const int fd = FFd;
        FFd = -1;
        return fd;
    }

private:
    int FFd;
};

bool SameFile(const struct stat &a, const struct stat &b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// True when leaf in the folder is the file written through our descriptor, not a link or
// another file put there under its name.
bool HoldsOurFile(int dir, const std::string &leaf, const struct stat &ours) {
    struct stat st {};
    return ::fstatat(dir, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
           SameFile(st, ours);
}

[[noreturn]] void RaiseSwapped(const std::string &dest) {
    throw Exception("Someone else swapped the temporary file of \"" + dest +
                    "\" for another file while it was written; the thumbnail was not written");
}

// What the conversion raised in the helper, raised again here as the same class.
[[noreturn]] void RaiseAgain(const TDecodeReply &reply) {
    const std::string cls(reply.ErrorClass, strnlen(reply.ErrorClass, sizeof reply.ErrorClass));
    std::string message(reply.Error, strnlen(reply.Error, sizeof reply.Error));
    if (cls == "EJPEG")
        throw EJPEG(std::move(message));
    if (cls == "EInvalidOp")
        throw EInvalidOp(std::move(message));
    if (cls == "EZeroDivide")
        throw EZeroDivide(std::move(message));
    if (cls == "EIntOverflow")
        throw EIntOverflow(std::move(message));
    if (cls == "EOutOfMemory")
        throw EOutOfMemory(std::move(message));
    if (cls == "EStreamError")
        throw EStreamError(std::move(message));
    throw Exception(std::move(message));
}

// The thumbnail of the preview file source, written to destFd by the decoding helper: the
// preview came out of a RAW file and is no more to be trusted than it. Raises what the
// conversion raised there, by its message.
void ConvertInHelper(const std::string &source, int destFd, const std::string &dest, int width,
                     int height, TColor fillColor, const std::string &sourceIdentity) {
    TDecodeRequest request;
    request.Job = TDecodeJob::Thumbnail;
    request.BoxWidth = width;
    request.BoxHeight = height;
    request.FillColor = fillColor;
    if (sourceIdentity.size() >= sizeof request.Identity)
        throw Exception("The identity of the RAW file of \"" + dest + "\" is too long");
    std::snprintf(request.Path, sizeof request.Path, "%s", source.c_str());
    std::snprintf(request.Identity, sizeof request.Identity, "%s", sourceIdentity.c_str());
    TDescriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (in.Fd() < 0 || ::fstat(in.Fd(), &st) != 0 || !S_ISREG(st.st_mode))
        throw EFOpenError("Cannot open file \"" + source + "\". " +
                          std::strerror(in.Fd() < 0 ? errno : EINVAL));
    const TSandboxResult result = RunDecode(request, in.Fd());
    switch (result.End) {
    case TSandboxEnd::Done:
        break;
    case TSandboxEnd::Crashed:
        throw Exception("The thumbnail converter crashed on the preview of \"" + dest + "\"");
    case TSandboxEnd::OverLimit:
        throw Exception("The thumbnail converter went over its time or memory limit on the "
                        "preview of \"" +
                        dest + "\"");
    default:
        throw Exception("The decoding helper could not be started");
    }
    if (result.Reply.Code != 0)
        RaiseAgain(result.Reply);
    if (result.Reply.Status != TDecodeStatus::Done || result.Reply.Size <= 0)
        throw EStreamError("Stream write error");
    if (const int error = result.WriteTo(destFd))
        throw EStreamError("Cannot write file \"" + dest + "\". " + std::strerror(error));
}

} // namespace

void WriteThumbnailFile(const std::string &source, const std::string &dest, int width, int height,
                        TColor fillColor, const std::string &sourceIdentity) {
    // Everything happens relative to the folder's descriptor, and the picture is written only
    // through the descriptor that created the temporary file: a name swapped for a link by
    // someone else who can write to the folder is never followed.
    const std::string folderPath = ExtractFilePath(dest);
    const std::string leaf = ExtractFileName(dest);
    TDescriptor folder(
        ::open(folderPath.empty() ? "." : folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.Fd() < 0)
        RaiseCreate(dest, errno);
    struct stat folderStat {};
    if (::fstat(folder.Fd(), &folderStat) != 0)
        RaiseCreate(dest, errno);
    // Without the sticky bit any user may rename our temporary file between the last check and
    // the rename, which no sequence of calls can rule out.
    if ((folderStat.st_mode & S_IWOTH) && !(folderStat.st_mode & S_ISVTX))
        throw Exception("The folder \"" + ExtractFileDir(dest) +
                        "\" can be changed by every user; no thumbnail is written there, since "
                        "another user could swap it for a link");

    // A folder, pipe, device or link of that name is not a picture of ours to replace; an empty
    // regular file holds nothing to protect.
    struct stat existing {};
    if (::fstatat(folder.Fd(), leaf.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
        if (!S_ISREG(existing.st_mode))
            throw Exception("\"" + dest + "\" exists and is not a regular file; left as it is");
        if (existing.st_size > 0 && !HasThumbnailComment(dest))
            throw Exception("\"" + dest + "\" exists and was not made by Pixavant; left as it is");
    }

    std::string temp;
    int fd = -1;
    for (int attempt = 0;; ++attempt) {
        // The process id lets a later pass tell the litter of a killed run from a live one's.
        char name[64];
        std::snprintf(name, sizeof name, "%s%ld-%08x.tmp", TempThumbnailPrefix, long(::getpid()),
                      QRandomGenerator::global()->generate());
        temp = name;
        fd = ::openat(folder.Fd(), temp.c_str(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0666);
        if (fd >= 0)
            break;
        if (errno != EEXIST || attempt == 99)
            RaiseCreate(dest, errno);
    }
    TDescriptor file(fd);
    struct stat written {};
    try {
        ConvertInHelper(source, file.Fd(), dest, width, height, fillColor, sourceIdentity);
        if (::fstat(file.Fd(), &written) != 0)
            RaiseCreate(dest, errno);
    } catch (...) {
        // Only a name that still holds our file is ours to remove.
        struct stat mine {};
        if (::fstat(file.Fd(), &mine) == 0 && HoldsOurFile(folder.Fd(), temp, mine))
            ::unlinkat(folder.Fd(), temp.c_str(), 0);
        throw;
    }
    // The descriptor stays open until after the rename, so that our file's inode number cannot
    // be given to another file in the meantime.
    if (!HoldsOurFile(folder.Fd(), temp, written))
        RaiseSwapped(dest);
    if (::renameat(folder.Fd(), temp.c_str(), folder.Fd(), leaf.c_str()) != 0) {
        const int error = errno;
        if (HoldsOurFile(folder.Fd(), temp, written))
            ::unlinkat(folder.Fd(), temp.c_str(), 0);
        RaiseCreate(dest, error);
    }
    if (!HoldsOurFile(folder.Fd(), leaf, written))
        RaiseSwapped(dest);
    if (::close(file.Release()) != 0) {
        const int error = errno;
        ::unlinkat(folder.Fd(), leaf.c_str(), 0); // verified ours just above, and incomplete
        throw EStreamError("Cannot write file \"" + dest + "\". " + std::strerror(error));
    }
}

void RemoveStaleThumbnailTemps(const std::string &folder) {
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return;
    DIR *entries = ::fdopendir(dir);
    if (!entries) {
        ::close(dir);
        return;
    }
    const std::size_t prefix = std::strlen(TempThumbnailPrefix);
    while (const dirent *entry = ::readdir(entries)) {
        // .pixavant-PID-XXXXXXXX.tmp exactly; anything else is not ours to judge.
        const std::string name = entry->d_name;
        if (name.size() < prefix + 14 || name.compare(0, prefix, TempThumbnailPrefix) != 0 ||
            name.compare(name.size() - 4, 4, ".tmp") != 0)
            continue;
        const std::string middle = name.substr(prefix, name.size() - prefix - 4);
        const std::size_t dash = middle.find('-');
        if (dash == 0 || dash == std::string::npos || dash > 10 || middle.size() - dash != 9 ||
            middle.find_first_not_of("0123456789") != dash ||
            middle.find_first_not_of("0123456789abcdef", dash + 1) != std::string::npos)
            continue;
        const long pid = std::strtol(middle.c_str(), nullptr, 10);
        if (pid <= 0 || pid > INT32_MAX || pid == long(::getpid()) || ::kill(pid_t(pid), 0) == 0 ||
            errno != ESRCH)
            continue;
        struct stat st {};
        if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            ::unlinkat(dir, name.c_str(), 0);
    }
    ::closedir(entries);
}
