#include "MetaLibrary.h"

#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Recursive: a decode registers the namespaces it meets while it holds the lock.
std::recursive_mutex XmpLock;

void LockXmp(void *, bool lock) {
    if (lock)
        XmpLock.lock();
    else
        XmpLock.unlock();
}

} // namespace

void InitMetaLibrary() {
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize(LockXmp, nullptr);
#ifdef EXV_ENABLE_BMFF
        // Canon's CR3 is an ISO media file, which exiv2 reads only when asked to.
        Exiv2::enableBMFF(true);
#endif
    });
}

bool ReadSmallFile(const std::string &path, std::size_t limit, std::string &bytes) {
    // O_NONBLOCK: a FIFO put in a sidecar's place must not hang the reader.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && std::size_t(st.st_size) <= limit;
    if (ok) {
        bytes.resize(std::size_t(st.st_size));
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (n <= 0)
                break;
            done += std::size_t(n);
        }
        bytes.resize(done);
    }
    ::close(fd);
    return ok;
}
