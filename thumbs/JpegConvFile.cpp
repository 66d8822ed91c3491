// JPEG thumbnails of files: the picture read through a descriptor that never blocks on a FIFO
// named like a picture, the thumbnail written through the caller's descriptor or a new file, and
// the test for our comment in a thumbnail file.
#include "JpegConv.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <istream>
#include <ostream>
#include <streambuf>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "Exceptions.h"
#include "FileRead.h"
#include "JpegMarkers.h"

namespace {

std::string ErrorText(int error) {
    return std::strerror(error);
}

// File streams on descriptors: opening with O_NONBLOCK keeps a FIFO named like a picture from
// blocking us, and the failures keep the system's reason.
class FdFile {
public:
    FdFile(int fd) : FFd(fd) {}
    FdFile(const FdFile &) = delete;
    FdFile &operator=(const FdFile &) = delete;
    ~FdFile() {
        if (FFd >= 0)
            ::close(FFd);
    }
    int Fd() const { return FFd; }
    int Close() // 0, or the error of the last write the system reports at close
    {
        // Forgotten as it is closed: the number may be another thread's file a moment later.
        return ::close(std::exchange(FFd, -1)) == 0 ? 0 : errno;
    }

private:
    int FFd;
};

class FdReadBuf : public std::streambuf {
public:
    FdReadBuf(int fd, std::string path) : FFd(fd), FPath(std::move(path)) {}

protected:
    int_type underflow() override {
        ssize_t n;
        do
            n = ::read(FFd, FBuffer, sizeof FBuffer);
        while (n < 0 && errno == EINTR);
        if (n < 0)
            throw EStreamError("Cannot read file \"" + FPath + "\". " + ErrorText(errno));
        if (n == 0)
            return traits_type::eof();
        setg(FBuffer, FBuffer, FBuffer + n);
        return traits_type::to_int_type(*gptr());
    }
    pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode) override {
        if (dir == std::ios_base::cur)
            off -= egptr() - gptr();
        const int whence = dir == std::ios_base::beg   ? SEEK_SET
                           : dir == std::ios_base::cur ? SEEK_CUR
                                                       : SEEK_END;
        const off_t result = ::lseek(FFd, off_t(off), whence);
        if (result < 0)
            return pos_type(off_type(-1));
        setg(FBuffer, FBuffer, FBuffer);
        return pos_type(off_type(result));
    }
    pos_type seekpos(pos_type pos, std::ios_base::openmode which) override {
        return seekoff(off_type(pos), std::ios_base::beg, which);
    }

private:
    int FFd;
    std::string FPath;
    char FBuffer[65536];
};

class FdWriteBuf : public std::streambuf {
public:
    FdWriteBuf(int fd, std::string path) : FFd(fd), FPath(std::move(path)) {}

protected:
    std::streamsize xsputn(const char *s, std::streamsize count) override {
        std::streamsize done = 0;
        while (done < count) {
            const ssize_t n = ::write(FFd, s + done, std::size_t(count - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                throw EStreamError("Cannot write file \"" + FPath + "\". " +
                                   ErrorText(n < 0 ? errno : ENOSPC));
            done += n;
        }
        return done;
    }
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof()))
            return traits_type::not_eof(c);
        const char ch = traits_type::to_char_type(c);
        xsputn(&ch, 1);
        return c;
    }

private:
    int FFd;
    std::string FPath;
};

// The source opened for reading; a FIFO or device named like a picture is refused, not waited
// on.
int OpenSource(const std::string &sourceFile) {
    const int fd = ::open(sourceFile.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        throw EFOpenError("Cannot open file \"" + sourceFile + "\". " + ErrorText(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        throw EFOpenError("Cannot open file \"" + sourceFile + "\". " + ErrorText(error));
    }
    return fd;
}

void Convert(int sourceFd, const std::string &sourceFile, int destFd, const std::string &destName,
             int width, int height, TColor fillColor, const std::string &sourceIdentity = {}) {
    FdReadBuf readBuf(sourceFd, sourceFile);
    std::istream sourceStream(&readBuf);
    sourceStream.exceptions(std::ios::badbit); // the buffers' own errors carry the reason
    FdWriteBuf writeBuf(destFd, destName);
    std::ostream destStream(&writeBuf);
    destStream.exceptions(std::ios::badbit);
    MakeThumbnail(sourceStream, destStream, width, height, fillColor, sourceIdentity);
}

} // namespace

void MakeThumbnailFile(const std::string &sourceFile, const std::string &destFile, int width,
                       int height, TColor fillColor) {
    FdFile in(OpenSource(sourceFile));
    FdFile out(
        ::open(destFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666));
    if (out.Fd() < 0)
        throw EFCreateError("Cannot create file \"" + destFile + "\". " + ErrorText(errno));
    Convert(in.Fd(), sourceFile, out.Fd(), destFile, width, height, fillColor);
    if (const int error = out.Close())
        throw EStreamError("Cannot write file \"" + destFile + "\". " + ErrorText(error));
}

void MakeThumbnailToDescriptor(const std::string &sourceFile, int destFd,
                               const std::string &destName, int width, int height, TColor fillColor,
                               const std::string &sourceIdentity) {
    FdFile in(OpenSource(sourceFile));
    Convert(in.Fd(), sourceFile, destFd, destName, width, height, fillColor, sourceIdentity);
}

void MakeThumbnailBetweenDescriptors(int sourceFd, const std::string &sourceName, int destFd,
                                     int width, int height, TColor fillColor,
                                     const std::string &sourceIdentity) {
    Convert(sourceFd, sourceName, destFd, "the thumbnail", width, height, fillColor,
            sourceIdentity);
}

bool HasThumbnailComment(const std::string &path) {
    // Our comment follows the JFIF header; a window this size holds it with room to spare.
    constexpr std::size_t Window = 65536;
    FdFile file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st;
    if (file.Fd() < 0 || ::fstat(file.Fd(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    std::vector<std::uint8_t> head;
    if (ReadFileBytes(file.Fd(), Window, head) != 0)
        return false;
    const std::size_t commentLength = sizeof ThumbnailComment - 1;
    return WalkJpegHeader(head.data(), head.size(), [&](const JpegSegment &segment) {
        return segment.marker == 0xFE && segment.size == commentLength &&
               std::memcmp(segment.data, ThumbnailComment, commentLength) == 0;
    });
}
