#include "Global_FastIO.h"

#include "Exceptions.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Codes of the platform the program was written for; anything without a close match becomes
// a generic device error.
constexpr int GenericIoCode = 1117;
constexpr int NegativeSeekCode = 131;
constexpr int NotOpenForOutputCode = 103;
constexpr int NotOpenForInputCode = 104;

int InOutCode(int err, int badHandleCode = GenericIoCode) {
    switch (err) {
    case ENOENT:
        return 2;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case EILSEQ:
        return 3;
    case EMFILE:
    case ENFILE:
        return 4;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
    case EBUSY:
        return 5;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return 101;
    case EBADF:
        return badHandleCode;
    default:
        return GenericIoCode;
    }
}

[[noreturn]] void RaiseInOut(int code) {
    throw EInOutError(code);
}

void CheckFits(std::int64_t value) {
    if (value > INT32_MAX)
        RaiseInOut(FastFileTooLargeCode);
}

} // namespace

TFastFile::TFastFile(const std::string &name, std::int32_t mode, std::int32_t &errorCode) {
    Open(name, mode, errorCode);
}

TFastFile::TFastFile(int fd) {
    ResetBuffer();
    struct stat st;
    int code = 0;
    if (::fstat(fd, &st) != 0)
        code = InOutCode(errno);
    else if (!S_ISREG(st.st_mode))
        code = 5;
    else if (st.st_size > INT32_MAX)
        code = FastFileTooLargeCode;
    else if (::lseek(fd, 0, SEEK_SET) < 0)
        code = InOutCode(errno);
    if (code != 0) {
        ::close(fd);
        RaiseInOut(code);
    }
    FHandle = fd;
    FRawPos = 0;
}

TFastFile::~TFastFile() {
    try {
        Close(true);
    } catch (...) {
        // A failing close cannot be reported from a destructor; the descriptor is gone anyway.
    }
}

void TFastFile::Open(const std::string &name, std::int32_t mode, std::int32_t &errorCode) {
    ResetBuffer();
    if (name.empty()) {
        FInMemory = true;
        FStream = std::make_unique<TMemoryStream>();
        errorCode = 0;
        return;
    }
    FInMemory = false;
    if (name.find('\0') != std::string::npos)
        RaiseInOut(3);

    int flags = O_CLOEXEC | O_NONBLOCK; // a FIFO must not block the opening
    if (mode == FastFileCreateMode) {
        flags |= O_RDWR | O_CREAT | O_TRUNC;
    } else {
        switch (mode & 3) {
        case 0:
            flags |= O_RDONLY;
            break;
        case 1:
            flags |= O_WRONLY;
            break;
        default:
            flags |= O_RDWR;
            break;
        }
    }
    int fd;
    do
        fd = ::open(name.c_str(), flags, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        RaiseInOut(InOutCode(errno));

    struct stat st;
    int code = 0;
    if (::fstat(fd, &st) != 0)
        code = InOutCode(errno);
    else if (!S_ISREG(st.st_mode))
        code = 5; // folders, devices and pipes are not files to read a picture from
    else if (st.st_size > INT32_MAX)
        code = FastFileTooLargeCode;
    else
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (code != 0) {
        ::close(fd);
        RaiseInOut(code);
    }
    FHandle = fd;
    FRawPos = 0;
    errorCode = 0;
}

std::int32_t TFastFile::Close(bool /*release*/) {
    if (FInMemory) {
        FStream.reset();
        return 0;
    }
    if (FHandle >= 0) {
        const int fd = FHandle;
        FHandle = -1;
        // The descriptor is released even when close reports an error, so never retry it.
        if (::close(fd) != 0 && errno != EINTR)
            RaiseInOut(InOutCode(errno));
    }
    return 0;
}

std::int32_t TFastFile::Size() {
    std::int64_t size = 0;
    if (FInMemory) {
        size = FStream ? static_cast<std::int64_t>(FStream->Data.size()) : 0;
    } else {
        struct stat st;
        if (::fstat(FHandle, &st) != 0)
            RaiseInOut(InOutCode(errno));
        size = st.st_size;
    }
    CheckFits(size);
    return static_cast<std::int32_t>(size);
}

std::int32_t TFastFile::RawPosition() const {
    const std::int64_t raw = FInMemory ? (FStream ? FStream->Position : 0) : FRawPos;
    CheckFits(raw);
    return static_cast<std::int32_t>(raw);
}

std::int64_t TFastFile::PlatformRead(void *dest, std::int64_t count) {
    if (FInMemory) {
        // A stream moved before its start (only memory mode allows that) holds nothing there.
        if (!FStream || FStream->Position < 0)
            return 0;
        const auto size = static_cast<std::int64_t>(FStream->Data.size());
        const std::int64_t n = std::clamp<std::int64_t>(size - FStream->Position, 0, count);
        if (n > 0)
            std::memcpy(dest, FStream->Data.data() + FStream->Position, static_cast<size_t>(n));
        FStream->Position += n;
        return n;
    }
    // One call per read: a regular file answers short only at its end, and asking again would
    // only learn that nothing follows.
    for (;;) {
        const ssize_t n =
            ::pread(FHandle, dest, static_cast<size_t>(count), static_cast<off_t>(FRawPos));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            RaiseInOut(InOutCode(errno, NotOpenForInputCode));
        }
        FRawPos += n;
        return n;
    }
}

void TFastFile::FillBuffer() {
    FFilled = static_cast<std::int32_t>(PlatformRead(FBuffer, FastFileBufferSize));
    FRemaining = FFilled;
    FBufPos = 0;
    if (FFilled == 0)
        FEndFlag = true;
}

std::int32_t TFastFile::Read(void *dest, std::int32_t count) {
    if (count <= 0)
        return 0;
    auto *out = static_cast<std::uint8_t *>(dest);
    if (count <= FRemaining) {
        std::memcpy(out, FBuffer + FBufPos, static_cast<size_t>(count));
        FBufPos = static_cast<std::uint16_t>(FBufPos + count);
        FRemaining -= count;
        return count;
    }
    std::int32_t copied = 0;
    while (count > 0) {
        if (FRemaining == 0) {
            // Past the end, nothing more is asked of the file until a Seek: a file that grew
            // behind us must not show more bytes here than ReadByte's callers see.
            if (FEndFlag)
                return copied;
            // Whole buffers' worth go straight to the destination: the same bytes and the same
            // end state as refilling block by block, without a copy and a call per block.
            if (count >= FastFileBufferSize) {
                const std::int32_t direct = count - count % FastFileBufferSize;
                const auto n = static_cast<std::int32_t>(PlatformRead(out + copied, direct));
                copied += n;
                count -= n;
                ResetBuffer();
                FFilled = 0;
                if (n == direct) {
                    // The last block stays as the buffered window, as the block-by-block refill
                    // leaves it, so a seek back into it costs no platform call.
                    std::memcpy(FBuffer, out + copied - FastFileBufferSize, FastFileBufferSize);
                    FFilled = FastFileBufferSize;
                    FBufPos = FastFileBufferSize;
                    continue;
                }
            }
            FillBuffer();
            if (FRemaining == 0)
                return copied;
        }
        const std::int32_t n = std::min(count, FRemaining);
        std::memcpy(out + copied, FBuffer + FBufPos, static_cast<size_t>(n));
        FBufPos = static_cast<std::uint16_t>(FBufPos + n);
        FRemaining -= n;
        count -= n;
        copied += n;
    }
    return copied;
}

std::int32_t TFastFile::Write(const void *source, std::int32_t count) {
    const std::int64_t pos = Position();
    if (count <= 0) {
        ResetBuffer();
        if (FInMemory) {
            if (FStream)
                FStream->Position = pos;
        } else {
            FRawPos = pos;
        }
        return 0;
    }
    CheckFits(pos + count);
    const auto *in = static_cast<const std::uint8_t *>(source);
    std::int64_t written = 0;
    if (FInMemory) {
        if (!FStream)
            RaiseInOut(NotOpenForOutputCode);
        // Before the start nothing is written: a short write, as on a full disk.
        if (pos >= 0) {
            auto &data = FStream->Data;
            if (static_cast<std::int64_t>(data.size()) < pos + count)
                data.resize(static_cast<size_t>(pos + count));
            std::memcpy(data.data() + pos, in, static_cast<size_t>(count));
            written = count;
            FStream->Position = pos + count;
        }
    } else {
        while (written < count) {
            const ssize_t n = ::pwrite(FHandle, in + written, static_cast<size_t>(count - written),
                                       static_cast<off_t>(pos + written));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                const int code = InOutCode(errno, NotOpenForOutputCode);
                // A disk that fills up part-way is a short write, not an error.
                if (written > 0 && code == 101)
                    break;
                RaiseInOut(code);
            }
            if (n == 0)
                break;
            written += n;
        }
        FRawPos = pos + written;
    }
    if (written != count)
        FEndFlag = true;
    ResetBuffer();
    return static_cast<std::int32_t>(written);
}

std::int32_t TFastFile::Seek(std::int32_t offset, std::int32_t origin) {
    std::int64_t target = offset;
    if (origin == 1)
        target += Position();
    else if (origin == 2)
        target += Size();
    CheckFits(target);

    const std::int64_t raw = RawPosition();
    if (target < raw && target >= raw - FFilled && (FRemaining != 0 || FBufPos != 0)) {
        FEndFlag = false;
        FBufPos = static_cast<std::uint16_t>(target - (raw - FFilled));
        FRemaining = FFilled - FBufPos;
        return static_cast<std::int32_t>(target);
    }
    // A disk file refuses a negative position; a memory stream takes it, and reads and writes
    // there obtain and store nothing.
    if (target < 0 && !FInMemory)
        RaiseInOut(NegativeSeekCode);
    if (FInMemory) {
        if (FStream)
            FStream->Position = target;
    } else {
        FRawPos = target;
    }
    FEndFlag = false;
    ResetBuffer();
    return static_cast<std::int32_t>(target);
}
