// Defines pread (and pread64, the same call on x86-64, and the checked forms a fortified build
// calls) for the whole test program, so the buffered file's reads land here first. Fortified
// inline wrappers in this file would clash with these definitions.
#undef _FORTIFY_SOURCE
#include "ReadCounter.h"

#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace {

std::atomic<bool> watching{false};
std::atomic<dev_t> watchedDevice{0};
std::atomic<ino_t> watchedInode{0};
std::atomic<int> calls{0};

ssize_t CountedRead(int fd, void *buf, size_t count, long long offset) {
    struct stat st;
    if (watching && ::fstat(fd, &st) == 0 && st.st_dev == watchedDevice &&
        st.st_ino == watchedInode)
        ++calls;
    return ::syscall(SYS_pread64, fd, buf, count, offset);
}

} // namespace

extern "C" ssize_t pread(int fd, void *buf, size_t count, off_t offset) {
    return CountedRead(fd, buf, count, offset);
}

extern "C" ssize_t pread64(int fd, void *buf, size_t count, off64_t offset) {
    return CountedRead(fd, buf, count, offset);
}

extern "C" ssize_t __pread_chk(int fd, void *buf, size_t count, off_t offset, size_t size) {
    if (count > size)
        std::abort(); // what the checked call does on an overflowing read
    return CountedRead(fd, buf, count, offset);
}

extern "C" ssize_t __pread64_chk(int fd, void *buf, size_t count, off64_t offset, size_t size) {
    if (count > size)
        std::abort();
    return CountedRead(fd, buf, count, offset);
}

namespace readcounter {

void Watch(const std::string &path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return;
    watchedDevice = st.st_dev;
    watchedInode = st.st_ino;
    calls = 0;
    watching = true;
}

int Calls() {
    return calls;
}

void Reset() {
    calls = 0;
}

} // namespace readcounter
