// Decoding in a separate, locked-down process. Every decode of a file's content is handed to a
// pool of pre-started helper processes (pixavant-decode): each reads only the descriptor it is
// given and writes only into the memory file it is given, with no network, under limits on
// memory and processor time. A helper that crashes, overruns or is cancelled is replaced, and
// that file is a failure of its own: a hostile file can never take the program down.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "DecodeWire.h"

enum class TSandboxEnd {
    Done,        // the helper answered: Reply holds its result
    Crashed,     // the helper died on the file
    OverLimit,   // it went over its processor time, waiting time or memory
    Cancelled,   // the caller's cancel flag was raised; the helper was stopped
    Unavailable, // no helper could be started
};

struct TSandboxResult {
    TSandboxEnd End = TSandboxEnd::Unavailable;
    TDecodeReply Reply;      // with Reply.Size bytes of output when the decode succeeded
    bool Remembered = false; // answered from an earlier failure of the same file in this run

    TSandboxResult() = default;
    TSandboxResult(TSandboxResult &&other) noexcept;
    TSandboxResult &operator=(TSandboxResult &&other) noexcept;
    ~TSandboxResult();

    // The output, read straight from the helper's memory file: into dest (Reply.Size bytes),
    // or written to the file open on fd (0, or the errno of the failed write).
    bool Read(void *dest) const;
    int WriteTo(int fd) const;

private:
    friend TSandboxResult RunDecode(const TDecodeRequest &, int, const std::atomic<bool> *);
    int FOutput = -1;
};

// Hands the file open on fd (read from its start) to a helper and waits for its answer; raising
// *cancel stops the helper. Never raises. A file that failed before in this run (same device,
// inode, size and modification time, same job and box) fails again at once without a decode.
TSandboxResult RunDecode(const TDecodeRequest &request, int fd,
                         const std::atomic<bool> *cancel = nullptr);

// Starts helpers ahead of the first decode, so that it does not wait for one to load.
void PrestartDecoders(int count);

// The helper program's path: $PIXAVANT_DECODE_HELPER when set, else the one built beside this
// program, else the installed one.
std::string DecodeHelperPath();

// For tests: lets the helpers answer the test jobs, a RAW file that begins with
// DecodeTestSpinMarker among them (it then stalls its decode as a hostile file can), and caps
// every decode's processor budget at budgetMs when that is above 0.
void AllowDecodeTestJobs(bool allow, std::int64_t budgetMs = 0);
void ForgetDecodeFailures();
// Decodes handed to a helper so far (remembered failures are not counted).
std::uint64_t DecodesRun();
