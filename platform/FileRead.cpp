#include "FileRead.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Exceptions.h"

int ReadFileBytes(int fd, std::size_t limit, std::vector<std::uint8_t> &bytes) {
    bytes.clear();
    struct stat st;
    if (::fstat(fd, &st) == 0 && st.st_size > 0)
        bytes.reserve(std::min(std::size_t(st.st_size), limit));
    constexpr std::size_t Chunk = 65536;
    while (bytes.size() < limit) {
        const std::size_t done = bytes.size();
        const std::size_t want = std::min(Chunk, limit - done);
        bytes.resize(done + want);
        const ssize_t n = ::pread(fd, bytes.data() + done, want, off_t(done));
        if (n < 0) {
            bytes.resize(done);
            if (errno == EINTR)
                continue;
            return errno;
        }
        bytes.resize(done + std::size_t(n));
        if (n == 0)
            break;
    }
    return 0;
}

std::vector<std::uint8_t> ReadWholeFile(const std::string &path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    auto fail = [&](int error) -> std::vector<std::uint8_t> {
        throw EFOpenError("Cannot open file \"" + path + "\". " + std::strerror(error));
    };
    if (fd < 0)
        return fail(errno);
    struct stat st;
    const int statResult = ::fstat(fd, &st);
    if (statResult != 0 || !S_ISREG(st.st_mode)) {
        const int e = statResult != 0 ? errno : EINVAL;
        ::close(fd);
        return fail(e);
    }
    std::vector<std::uint8_t> bytes;
    const int error = ReadFileBytes(fd, std::size_t(-1), bytes);
    ::close(fd);
    if (error)
        return fail(error);
    return bytes;
}
