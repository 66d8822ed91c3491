#include "DecodeSandbox.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

extern char **environ;

namespace {

struct TWorker {
    pid_t Pid = -1;
    int Socket = -1;
    bool Fonts = false;
};

// Idle helpers kept for the next decode; more than this are let go.
constexpr std::size_t MaxIdleWorkers = 8;
// Processor time a helper may use beyond the job's own budget (its start-up among it), and how
// long on the clock a decode may take before it counts as stuck: three budgets, for a busy
// machine, and a margin.
constexpr std::int64_t CpuMarginMs = 1500;
constexpr std::int64_t WallMarginMs = 2000;
// How often a waiting caller looks at its cancel flag and the helper's processor time.
constexpr int PollSliceMs = 10;
// How a helper says why it gave up on its own.
constexpr int HelperExitNoSandbox = 2;
constexpr int HelperExitOutOfMemory = 3;

std::mutex PoolLock;
std::vector<TWorker> Idle;
std::atomic<bool> TestJobs{false};
std::atomic<std::int64_t> TestBudgetMs{0};
std::atomic<std::uint64_t> Runs{0};

struct TRememberedFailure {
    TSandboxEnd End;
    TDecodeReply Reply;
};
std::mutex FailureLock;
std::map<std::string, TRememberedFailure> Failures;

// Metafiles are drawn with the system's fonts, which the renderer opens as it meets their
// faces: only those helpers may open files, for reading, in the font and library folders.
bool NeedsFonts(TDecodeJob job) {
    return job == TDecodeJob::Metafile || job == TDecodeJob::TestOpenInFonts;
}

void Discard(TWorker &worker) {
    if (worker.Pid > 0) {
        ::kill(worker.Pid, SIGKILL);
        while (::waitpid(worker.Pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    if (worker.Socket >= 0)
        ::close(worker.Socket);
    worker = TWorker{};
}

std::string ExecutableFolder() {
    char buffer[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return {};
    const std::string exe(buffer, std::size_t(n));
    return exe.substr(0, exe.rfind('/'));
}

bool Spawn(bool fonts, TWorker &worker) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0)
        return false;
    int child = pair[1];
    if (child == DecodeSocketFd) {
        // dup2 onto itself would keep close-on-exec set.
        child = ::fcntl(pair[1], F_DUPFD_CLOEXEC, DecodeSocketFd + 1);
        ::close(pair[1]);
        if (child < 0) {
            ::close(pair[0]);
            return false;
        }
    }
    const std::string path = DecodeHelperPath();
    std::vector<std::string> args = {path, fonts ? "--fonts" : "--strict"};
    if (TestJobs)
        args.push_back("--test-jobs");
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    // One thread per helper: parallel decodes come from more helpers, not from threads.
    std::vector<std::string> env = {"OMP_NUM_THREADS=1", "OMP_THREAD_LIMIT=1",
                                    "MAGICK_THREAD_LIMIT=1"};
    for (char **e = environ; e && *e; ++e)
        if (std::strncmp(*e, "OMP_", 4) != 0 && std::strncmp(*e, "MAGICK_THREAD", 13) != 0)
            env.emplace_back(*e);
    std::vector<char *> envp;
    for (std::string &e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, child, DecodeSocketFd);
    ::posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGCHLD);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setsigdefault(&attributes, &defaults);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int failed =
        ::posix_spawn(&pid, path.c_str(), &actions, &attributes, argv.data(), envp.data());
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    ::close(child);
    if (failed != 0) {
        ::close(pair[0]);
        return false;
    }
    worker = TWorker{pid, pair[0], fonts};
    return true;
}

bool Acquire(bool fonts, TWorker &worker) {
    {
        std::lock_guard lock(PoolLock);
        for (auto it = Idle.begin(); it != Idle.end(); ++it) {
            if (it->Fonts == fonts) {
                worker = *it;
                Idle.erase(it);
                return true;
            }
        }
    }
    return Spawn(fonts, worker);
}

void Release(TWorker &worker) {
    std::lock_guard lock(PoolLock);
    if (Idle.size() < MaxIdleWorkers) {
        Idle.push_back(worker);
        worker = TWorker{};
    } else {
        Discard(worker);
    }
}

bool Send(const TWorker &worker, const TDecodeRequest &request, int in, int out) {
    iovec data{const_cast<TDecodeRequest *>(&request), sizeof request};
    alignas(cmsghdr) char control[CMSG_SPACE(2 * sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr *header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(2 * sizeof(int));
    const int fds[2] = {in, out};
    std::memcpy(CMSG_DATA(header), fds, sizeof fds);
    ssize_t n;
    do
        n = ::sendmsg(worker.Socket, &message, MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    return n == ssize_t(sizeof request);
}

std::int64_t CpuMs(clockid_t clock) {
    timespec t{};
    if (::clock_gettime(clock, &t) != 0)
        return -1;
    return std::int64_t(t.tv_sec) * 1000 + t.tv_nsec / 1'000'000;
}

// How a helper that stopped answering ended.
TSandboxEnd Ending(TWorker &worker) {
    int status = 0;
    pid_t got;
    do
        got = ::waitpid(worker.Pid, &status, 0);
    while (got < 0 && errno == EINTR);
    ::close(worker.Socket);
    worker = TWorker{};
    if (got < 0)
        return TSandboxEnd::Crashed;
    if (WIFSIGNALED(status))
        return WTERMSIG(status) == SIGXCPU ? TSandboxEnd::OverLimit : TSandboxEnd::Crashed;
    if (WIFEXITED(status) && WEXITSTATUS(status) == HelperExitOutOfMemory)
        return TSandboxEnd::OverLimit;
    if (WIFEXITED(status) && WEXITSTATUS(status) == HelperExitNoSandbox)
        return TSandboxEnd::Unavailable;
    return TSandboxEnd::Crashed;
}

// One request to one helper, to its end. The worker is released or discarded here.
TSandboxResult Exchange(TWorker &worker, const TDecodeRequest &request, int in, int out,
                        const std::atomic<bool> *cancel, bool &sent) {
    TSandboxResult result;
    sent = Send(worker, request, in, out);
    if (!sent) {
        Discard(worker);
        return result;
    }
    clockid_t clock{};
    const bool timed = ::clock_getcpuclockid(worker.Pid, &clock) == 0;
    // A helper serves one request after another: only what this one uses counts against it.
    const std::int64_t cpuStart = timed ? CpuMs(clock) : 0;
    const std::int64_t cpuLimit = request.BudgetMs + CpuMarginMs;
    const auto wallLimit = std::chrono::steady_clock::now() +
                           std::chrono::milliseconds(3 * request.BudgetMs + WallMarginMs);
    for (;;) {
        pollfd p{worker.Socket, POLLIN, 0};
        const int ready = ::poll(&p, 1, PollSliceMs);
        if (ready > 0) {
            TDecodeReply reply;
            ssize_t n;
            do
                n = ::recv(worker.Socket, &reply, sizeof reply, 0);
            while (n < 0 && errno == EINTR);
            if (n != ssize_t(sizeof reply)) {
                result.End = Ending(worker);
                return result;
            }
            result.End = TSandboxEnd::Done;
            result.Reply = reply;
            // Retired well before the kernel's limit on its whole life could stop it in the
            // middle of someone's file.
            if (timed && CpuMs(clock) > DecodeHelperLifetimeCpuSeconds * 1000 / 2)
                Discard(worker);
            else
                Release(worker);
            return result;
        }
        if (cancel && cancel->load()) {
            Discard(worker);
            result.End = TSandboxEnd::Cancelled;
            return result;
        }
        const std::int64_t used = timed ? CpuMs(clock) - cpuStart : -1;
        if (used > cpuLimit || std::chrono::steady_clock::now() > wallLimit) {
            Discard(worker);
            result.End = TSandboxEnd::OverLimit;
            return result;
        }
    }
}

std::string FailureKey(const struct stat &st, const TDecodeRequest &request) {
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" +
           std::to_string(st.st_size) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
           std::to_string(st.st_mtim.tv_nsec) + "/" + std::to_string(unsigned(request.Job)) + "/" +
           std::to_string(request.PictureKind) + "/" + std::to_string(request.BoxWidth) + "x" +
           std::to_string(request.BoxHeight) + "/" + std::to_string(request.Cover);
}

// Whether the memory file holds the output the reply announces.
bool OutputIsWhole(int out, const TDecodeReply &reply) {
    struct stat st {};
    return reply.Size > 0 && reply.Size <= MaxDecodeOutputBytes && ::fstat(out, &st) == 0 &&
           st.st_size >= reply.Size;
}

} // namespace

TSandboxResult::TSandboxResult(TSandboxResult &&other) noexcept
    : End(other.End), Reply(other.Reply), Remembered(other.Remembered),
      FOutput(std::exchange(other.FOutput, -1)) {}

TSandboxResult &TSandboxResult::operator=(TSandboxResult &&other) noexcept {
    if (this != &other) {
        if (FOutput >= 0)
            ::close(FOutput);
        End = other.End;
        Reply = other.Reply;
        Remembered = other.Remembered;
        FOutput = std::exchange(other.FOutput, -1);
    }
    return *this;
}

TSandboxResult::~TSandboxResult() {
    if (FOutput >= 0)
        ::close(FOutput);
}

bool TSandboxResult::Read(void *dest) const {
    auto *p = static_cast<unsigned char *>(dest);
    std::size_t done = 0;
    const auto size = std::size_t(Reply.Size);
    while (FOutput >= 0 && done < size) {
        const ssize_t n = ::pread(FOutput, p + done, size - done, off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += std::size_t(n);
    }
    return FOutput >= 0 && done == size;
}

int TSandboxResult::WriteTo(int fd) const {
    if (FOutput < 0)
        return EBADF;
    off_t offset = 0;
    while (offset < Reply.Size) {
        const ssize_t n = ::sendfile(fd, FOutput, &offset, std::size_t(Reply.Size - offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return ENOSPC;
    }
    return 0;
}

std::string DecodeHelperPath() {
    if (const char *path = std::getenv("PIXAVANT_DECODE_HELPER"); path && *path)
        return path;
    const std::string folder = ExecutableFolder();
    const std::string build = PIXAVANT_BUILD_DIR;
    if (folder == build || folder.rfind(build + "/", 0) == 0)
        return build + "/lib/pixavant-decode";
    // Installed: beside the private library, where the program's RUNPATH points.
    const std::string beside = folder + "/../" PIXAVANT_PRIVATE_LIBDIR "/pixavant-decode";
    if (::access(beside.c_str(), X_OK) == 0)
        return beside;
    return PIXAVANT_INSTALL_PREFIX "/" PIXAVANT_PRIVATE_LIBDIR "/pixavant-decode";
}

TSandboxResult RunDecode(const TDecodeRequest &request, int fd, const std::atomic<bool> *cancel) {
    TSandboxResult result;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        result.End = TSandboxEnd::Done;
        result.Reply.Status = TDecodeStatus::BadRequest;
        return result;
    }
    const std::string key = FailureKey(st, request);
    {
        std::lock_guard lock(FailureLock);
        if (const auto it = Failures.find(key); it != Failures.end()) {
            result.End = it->second.End;
            result.Reply = it->second.Reply;
            result.Remembered = true;
            return result;
        }
    }
    const int out = ::memfd_create("pixavant-decode", MFD_CLOEXEC);
    if (out < 0)
        return result;
    TDecodeRequest sent = request;
    if (TestJobs && TestBudgetMs > 0)
        sent.BudgetMs = std::min<std::int64_t>(sent.BudgetMs, TestBudgetMs);
    // A helper that waited in the pool may have gone meanwhile: one fresh try then.
    for (int attempt = 0; attempt < 2; ++attempt) {
        TWorker worker;
        if (!Acquire(NeedsFonts(request.Job), worker))
            break;
        ++Runs;
        bool handed = false;
        result = Exchange(worker, sent, fd, out, cancel, handed);
        if (handed)
            break;
    }
    if (result.End == TSandboxEnd::Done && result.Reply.Size != 0 &&
        (result.Reply.Status != TDecodeStatus::Done || !OutputIsWhole(out, result.Reply))) {
        result.Reply.Status = TDecodeStatus::OutputTooLarge;
        result.Reply.Size = 0;
    }
    if (result.End == TSandboxEnd::Done && result.Reply.Size > 0)
        result.FOutput = out;
    else
        ::close(out);
    const bool failed = result.End == TSandboxEnd::Crashed ||
                        result.End == TSandboxEnd::OverLimit ||
                        (result.End == TSandboxEnd::Done && result.Reply.Size == 0);
    if (failed && request.Job < TDecodeJob::TestCrash) {
        std::lock_guard lock(FailureLock);
        Failures[key] = TRememberedFailure{result.End, result.Reply};
    }
    return result;
}

void PrestartDecoders(int count) {
    for (int i = 0; i < count; ++i) {
        TWorker worker;
        if (!Spawn(false, worker))
            return;
        Release(worker);
    }
}

void AllowDecodeTestJobs(bool allow, std::int64_t budgetMs) {
    TestJobs = allow;
    TestBudgetMs = allow ? budgetMs : 0;
    std::lock_guard lock(PoolLock);
    for (TWorker &worker : Idle)
        Discard(worker);
    Idle.clear();
}

void ForgetDecodeFailures() {
    std::lock_guard lock(FailureLock);
    Failures.clear();
}

std::uint64_t DecodesRun() {
    return Runs;
}
