// pixavant-decode: the program's decoding helper. It loads every decoder first, then locks
// itself down and answers one request at a time on the socket it was started with: a file to
// read and a memory file to write into arrive with each request, and nothing else can be
// reached. The program replaces a helper that crashes or overruns.
#include <cerrno>
#include <csignal>
#include <cstring>
#include <new>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "Confine.h"
#include "DecodeServe.h"
#include "DecodeWire.h"

namespace {

constexpr int ExitNoSandbox = 2;
constexpr int ExitOutOfMemory = 3;

} // namespace

int main(int argc, char **argv) {
    bool fonts = false, testJobs = false;
    for (int i = 1; i < argc; ++i) {
        fonts = fonts || std::strcmp(argv[i], "--fonts") == 0;
        testJobs = testJobs || std::strcmp(argv[i], "--test-jobs") == 0;
    }
    // Only the socket is kept of what the program had open. (No parent-death signal: it would
    // come when the thread that started this helper ends, not the program; the helper ends
    // when the program's end of the socket closes.)
    ::close_range(DecodeSocketFd + 1, ~0U, 0);
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN); // an output over its limit fails its write instead

    LoadDecoders(fonts);
    const std::string refused = Confine(fonts ? TConfinement::Fonts : TConfinement::Strict);
    if (!refused.empty()) {
        const std::string text = "pixavant-decode: " + refused + "\n";
        [[maybe_unused]] const ssize_t n = ::write(2, text.data(), text.size());
        ::_exit(ExitNoSandbox);
    }

    for (;;) {
        TDecodeRequest request;
        alignas(cmsghdr) char control[CMSG_SPACE(2 * sizeof(int))] = {};
        iovec data{&request, sizeof request};
        msghdr message{};
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(DecodeSocketFd, &message, MSG_CMSG_CLOEXEC);
        if (n == 0 || (n < 0 && errno != EINTR))
            ::_exit(0); // the program has let this helper go
        if (n < 0)
            continue;
        int fds[2] = {-1, -1};
        const cmsghdr *header = CMSG_FIRSTHDR(&message);
        if (header && header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_RIGHTS &&
            header->cmsg_len == CMSG_LEN(sizeof fds))
            std::memcpy(fds, CMSG_DATA(header), sizeof fds);
        TDecodeReply reply;
        if (n == ssize_t(sizeof request) && fds[0] >= 0 && fds[1] >= 0) {
            try {
                reply = Serve(request, fds[0], fds[1], testJobs);
            } catch (const std::bad_alloc &) {
                ::_exit(ExitOutOfMemory); // what is left of the heap is not to be trusted
            } catch (...) {
                reply = TDecodeReply{};
            }
        }
        for (const int fd : fds)
            if (fd >= 0)
                ::close(fd);
        if (::send(DecodeSocketFd, &reply, sizeof reply, MSG_NOSIGNAL) != ssize_t(sizeof reply))
            ::_exit(0);
    }
}
