#include "Marks.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

#include "Exceptions.h"
#include "FileSystem.h"
#include "MetaLibrary.h"
#include "RawFormats.h"

namespace {

// Far above any sidecar a photo program writes (develop history included), far below what
// would hurt to hold.
constexpr std::size_t SidecarLimit = 32u << 20;

const char *const RatingKey = "Xmp.xmp.Rating";
const char *const LabelKey = "Xmp.xmp.Label";
const char *const LabelOfKey[] = {"Red", "Yellow", "Green", "Blue"}; // keys 6 to 9

// NAME.EXT without its extension; a name without one stays as it is.
std::string WithoutExtension(const std::string &path) {
    const std::string name = ExtractFileName(path);
    const auto dot = name.find_last_of('.');
    if (dot == std::string::npos || dot == 0)
        return path;
    return path.substr(0, path.size() - (name.size() - dot));
}

// The one of a RAW file's and an other picture's sidecar names that is not ours.
std::string OtherSidecar(const std::string &picture) {
    return IsRawFileName(picture) ? picture + ".xmp" : WithoutExtension(picture) + ".xmp";
}

void TakeMarks(const Exiv2::XmpData &xmp, TMarks &marks) {
    const auto rating = xmp.findKey(Exiv2::XmpKey(RatingKey));
    if (rating != xmp.end()) {
        // Lightroom writes whole stars; a value out of range or not a number is not ours to read.
        const std::string text = rating->toString();
        char *end = nullptr;
        const long value = std::strtol(text.c_str(), &end, 10);
        if (end != text.c_str() && *end == 0 && value >= -1 && value <= 5)
            marks.Rating = int(value);
    }
    const auto label = xmp.findKey(Exiv2::XmpKey(LabelKey));
    if (label != xmp.end())
        marks.Label = label->toString();
}

bool DecodeSidecar(const std::string &bytes, Exiv2::XmpData &xmp) {
    try {
        return Exiv2::XmpParser::decode(xmp, bytes) == 0;
    } catch (const std::exception &) {
        return false;
    }
}

void TakeSidecar(const std::string &path, TMarks &marks) {
    std::string bytes;
    Exiv2::XmpData xmp;
    if (ReadSmallFile(path, SidecarLimit, bytes) && DecodeSidecar(bytes, xmp))
        TakeMarks(xmp, marks);
}

void TakeEmbedded(const std::string &picture, TMarks &marks) {
    const std::string key = ExtensionKey(picture);
    if (key != ".JPG" && key != ".JPE" && key != ".TIF")
        return;
    try {
        auto image = Exiv2::ImageFactory::open(picture);
        if (!image.get())
            return;
        image->readMetadata();
        TakeMarks(image->xmpData(), marks);
    } catch (const std::exception &) {
        // A damaged picture simply carries no marks.
    }
}

[[noreturn]] void Fail(const std::string &picture, const std::string &reason) {
    throw Exception("The marks of " + ExtractFileName(picture) + " could not be saved: " + reason +
                    ". Nothing was changed.");
}

std::string ErrnoText(int code) {
    return std::strerror(code);
}

// Writes bytes to a new file beside target and renames it over target: a reader sees the old
// sidecar or the new one, never half of one.
void ReplaceAtomically(const std::string &picture, const std::string &target,
                       const std::string &bytes, const struct stat *old) {
    static std::atomic<unsigned> counter{0};
    const std::string temp = ExtractFilePath(target) + "." + ExtractFileName(target) + "." +
                             std::to_string(::getpid()) + "." + std::to_string(counter++) + ".tmp";
    // 0666 less the umask, as any new file of the user's; an old sidecar's mode is set below.
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int code = errno;
        if (code == EACCES || code == EPERM || code == EROFS)
            Fail(picture, "the folder " + ExtractFilePath(target) + " cannot be written to");
        Fail(picture, ErrnoText(code));
    }
    std::size_t done = 0;
    int code = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            code = n < 0 ? errno : ENOSPC;
            break;
        }
        done += std::size_t(n);
    }
    if (code == 0 && old) {
        if (::fchmod(fd, old->st_mode & 07777) != 0)
            code = errno;
        else if (old->st_gid != ::getegid() && ::fchown(fd, uid_t(-1), old->st_gid) != 0) {
            // The old group could not be kept; the user's own is no loss.
        }
    }
    if (code == 0 && ::fsync(fd) != 0)
        code = errno;
    if (::close(fd) != 0 && code == 0)
        code = errno;
    if (code == 0 && ::rename(temp.c_str(), target.c_str()) != 0)
        code = errno;
    if (code != 0) {
        ::unlink(temp.c_str());
        Fail(picture, ErrnoText(code));
    }
}

} // namespace

std::string SidecarFor(const std::string &picture) {
    return IsRawFileName(picture) ? WithoutExtension(picture) + ".xmp" : picture + ".xmp";
}

TMarks ReadMarks(const std::string &picture) {
    InitMetaLibrary();
    TMarks marks;
    TakeEmbedded(picture, marks);
    // Our own sidecar last: what this program wrote is what the user set last.
    TakeSidecar(OtherSidecar(picture), marks);
    TakeSidecar(SidecarFor(picture), marks);
    return marks;
}

bool ApplyMarkKey(TMarks &marks, char key) {
    if (key >= '0' && key <= '5') {
        marks.Rating = key - '0';
        return true;
    }
    if (key == 'X' || key == 'x') {
        marks.Rating = -1;
        return true;
    }
    if (key >= '6' && key <= '9') {
        const std::string label = LabelOfKey[key - '6'];
        marks.Label = marks.Label == label ? std::string() : label;
        return true;
    }
    return false;
}

void WriteMarks(const std::string &picture, const TMarks &marks) {
    InitMetaLibrary();
    const std::string target = SidecarFor(picture);
    Exiv2::XmpData xmp;
    struct stat st {};
    const bool exists = ::lstat(target.c_str(), &st) == 0;
    if (exists) {
        // A link or a device in the sidecar's place is not ours to replace by a plain file.
        if (!S_ISREG(st.st_mode))
            Fail(picture, ExtractFileName(target) + " is not a plain file");
        if (::access(target.c_str(), W_OK) != 0)
            Fail(picture, ExtractFileName(target) + " is read-only");
        std::string bytes;
        if (!ReadSmallFile(target, SidecarLimit, bytes))
            Fail(picture, ExtractFileName(target) + " cannot be read");
        // A sidecar we cannot parse would lose another program's work if rewritten.
        if (!bytes.empty() && !DecodeSidecar(bytes, xmp))
            Fail(picture, ExtractFileName(target) + " is not XMP this program can read");
    }
    xmp[RatingKey] = std::to_string(marks.Rating);
    if (marks.Label.empty()) {
        const auto label = xmp.findKey(Exiv2::XmpKey(LabelKey));
        if (label != xmp.end())
            xmp.erase(label);
    } else {
        xmp[LabelKey] = marks.Label;
    }
    std::string packet;
    try {
        if (Exiv2::XmpParser::encode(packet, xmp,
                                     Exiv2::XmpParser::omitPacketWrapper |
                                         Exiv2::XmpParser::useCompactFormat) != 0)
            Fail(picture, "the XMP could not be encoded");
    } catch (const Exiv2::AnyError &e) {
        Fail(picture, e.what());
    }
    if (packet.compare(0, 5, "<?xml") != 0)
        packet = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + packet;
    ReplaceAtomically(picture, target, packet, exists ? &st : nullptr);
}

std::string MarksText(const TMarks &marks) {
    std::string text;
    if (marks.Rating < 0)
        text = "Rejected";
    for (int i = 0; i < marks.Rating; ++i)
        text += "\u2605";
    if (!marks.Label.empty())
        text += (text.empty() ? "" : " ") + marks.Label;
    return text;
}
