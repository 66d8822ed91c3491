#include "Confine.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/landlock.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

#include "DecodeWire.h"

namespace {

// Address space for one helper: a 100-megapixel picture and its scaled copy fit many times.
constexpr rlim_t AddressSpaceLimit = rlim_t(1) << 30;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool Sanitized = true; // their shadow memory needs terabytes of address space
#else
constexpr bool Sanitized = false;
#endif

bool Limit(int resource, rlim_t value) {
    const rlimit limit{value, value};
    return ::setrlimit(resource, &limit) == 0;
}

// The access rights of Landlock's first version: every kernel that has Landlock knows them.
constexpr std::uint64_t LandlockV1Rights = (std::uint64_t(1) << 13) - 1;
constexpr std::uint64_t LandlockReadRights =
    LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR;

std::vector<std::string> ReadableFolders() {
    std::vector<std::string> folders = {
        "/usr/share/fonts",       "/usr/local/share/fonts",   "/etc/fonts",
        "/var/cache/fontconfig",  "/usr/share/ImageMagick-6", "/etc/ImageMagick-6",
        "/usr/share/ghostscript", "/usr/share/libwmf",        "/usr/lib",
        "/usr/share/fontconfig"};
    if (const char *home = std::getenv("HOME"); home && *home) {
        const std::string h = home;
        folders.insert(folders.end(), {h + "/.fonts", h + "/.local/share/fonts",
                                       h + "/.cache/fontconfig", h + "/.config/ImageMagick"});
    }
    if (const char *data = std::getenv("XDG_DATA_HOME"); data && *data)
        folders.push_back(std::string(data) + "/fonts");
    return folders;
}

// Closes the file system, except for reading in the given folders. A kernel without Landlock
// leaves this to the system-call filter.
void CloseFileSystem(const std::vector<std::string> &readable) {
    landlock_ruleset_attr attributes{};
    attributes.handled_access_fs = LandlockV1Rights;
    const long ruleset = ::syscall(SYS_landlock_create_ruleset, &attributes, sizeof attributes, 0);
    if (ruleset < 0)
        return;
    for (const std::string &folder : readable) {
        const int fd = ::open(folder.c_str(), O_PATH | O_CLOEXEC);
        if (fd < 0)
            continue;
        landlock_path_beneath_attr rule{};
        rule.allowed_access = LandlockReadRights;
        rule.parent_fd = fd;
        ::syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0);
        ::close(fd);
    }
    ::syscall(SYS_landlock_restrict_self, ruleset, 0);
    ::close(int(ruleset));
}

std::string Filter(TConfinement confinement) {
    // Anything not listed fails with EPERM: a library that probes gets an error, not a crash.
    scmp_filter_ctx filter = ::seccomp_init(SCMP_ACT_ERRNO(EPERM));
    if (!filter)
        return "the system-call filter cannot be made";
    int failed = 0;
    const auto allow = [&](int call) {
        failed |= ::seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 0);
    };
    for (const int call :
         {SCMP_SYS(read), SCMP_SYS(readv), SCMP_SYS(pread64), SCMP_SYS(write), SCMP_SYS(writev),
          SCMP_SYS(pwrite64), SCMP_SYS(lseek), SCMP_SYS(close), SCMP_SYS(fstat),
          SCMP_SYS(ftruncate), SCMP_SYS(fcntl), SCMP_SYS(dup), SCMP_SYS(mmap), SCMP_SYS(munmap),
          SCMP_SYS(mremap), SCMP_SYS(mprotect), SCMP_SYS(brk), SCMP_SYS(madvise), SCMP_SYS(futex),
          SCMP_SYS(exit), SCMP_SYS(exit_group), SCMP_SYS(rt_sigreturn), SCMP_SYS(rt_sigprocmask),
          SCMP_SYS(rt_sigaction), SCMP_SYS(sigaltstack), SCMP_SYS(tgkill), SCMP_SYS(clock_gettime),
          SCMP_SYS(clock_getres), SCMP_SYS(gettimeofday), SCMP_SYS(clock_nanosleep),
          SCMP_SYS(nanosleep), SCMP_SYS(getpid), SCMP_SYS(gettid), SCMP_SYS(getuid),
          SCMP_SYS(geteuid), SCMP_SYS(getgid), SCMP_SYS(getegid), SCMP_SYS(sched_yield),
          SCMP_SYS(sched_getaffinity), SCMP_SYS(getrandom), SCMP_SYS(set_robust_list),
          SCMP_SYS(rseq), SCMP_SYS(getrusage), SCMP_SYS(times), SCMP_SYS(sysinfo), SCMP_SYS(uname),
          SCMP_SYS(membarrier), SCMP_SYS(poll), SCMP_SYS(ppoll), SCMP_SYS(recvmsg),
          SCMP_SYS(sendmsg), SCMP_SYS(recvfrom), SCMP_SYS(sendto), SCMP_SYS(getcwd),
          // Wake-up channels of Qt's worker threads: anonymous, they reach nothing.
          SCMP_SYS(eventfd2), SCMP_SYS(pipe2)})
        allow(call);
    // Threads, never processes; clone3's flags cannot be inspected, so it answers ENOSYS and
    // the C library falls back to clone.
    failed |= ::seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(clone), 1,
                                 SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, CLONE_THREAD));
    failed |= ::seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0);
    // Limits may be read, never raised.
    failed |=
        ::seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(prlimit64), 1, SCMP_A2(SCMP_CMP_EQ, 0));
    failed |= ::seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(getrlimit), 0);
    if (confinement == TConfinement::Strict) {
        // Information about open descriptors only, never about a path.
        failed |= ::seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(newfstatat), 1,
                                     SCMP_A3(SCMP_CMP_MASKED_EQ, AT_EMPTY_PATH, AT_EMPTY_PATH));
        failed |= ::seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(statx), 1,
                                     SCMP_A2(SCMP_CMP_MASKED_EQ, AT_EMPTY_PATH, AT_EMPTY_PATH));
        failed |= ::seccomp_rule_add(filter, SCMP_ACT_ERRNO(EACCES), SCMP_SYS(openat), 0);
        failed |= ::seccomp_rule_add(filter, SCMP_ACT_ERRNO(EACCES), SCMP_SYS(open), 0);
    } else {
        // Opening for reading only: nothing can be created, truncated or written.
        const scmp_datum_t writing = O_ACCMODE | O_CREAT | O_TRUNC | O_APPEND | O_TMPFILE;
        failed |= ::seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(openat), 1,
                                     SCMP_A2(SCMP_CMP_MASKED_EQ, writing, 0));
        failed |= ::seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(open), 1,
                                     SCMP_A1(SCMP_CMP_MASKED_EQ, writing, 0));
        for (const int call :
             {SCMP_SYS(newfstatat), SCMP_SYS(statx), SCMP_SYS(stat), SCMP_SYS(lstat),
              SCMP_SYS(access), SCMP_SYS(faccessat), SCMP_SYS(faccessat2), SCMP_SYS(readlink),
              SCMP_SYS(readlinkat), SCMP_SYS(getdents64), SCMP_SYS(fstatfs), SCMP_SYS(statfs)})
            allow(call);
    }
    if (failed == 0)
        failed = ::seccomp_load(filter);
    ::seccomp_release(filter);
    return failed == 0 ? std::string() : "the system-call filter cannot be loaded";
}

} // namespace

std::string Confine(TConfinement confinement) {
    // A crash leaves no core file with a photo's pixels behind.
    if (::prctl(PR_SET_DUMPABLE, 0) != 0 || !Limit(RLIMIT_CORE, 0))
        return "core dumps cannot be turned off";
    if (!Sanitized && !Limit(RLIMIT_AS, AddressSpaceLimit))
        return "the memory limit cannot be set";
    if (!Limit(RLIMIT_FSIZE, rlim_t(MaxDecodeOutputBytes)) ||
        !Limit(RLIMIT_CPU, rlim_t(DecodeHelperLifetimeCpuSeconds)))
        return "the output and processor limits cannot be set";
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return "new privileges cannot be ruled out";
    CloseFileSystem(confinement == TConfinement::Fonts ? ReadableFolders()
                                                       : std::vector<std::string>{});
    return Filter(confinement);
}
