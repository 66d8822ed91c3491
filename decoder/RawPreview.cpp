#include "RawPreview.h"

#include "DecodeSandbox.h"
#include "Exceptions.h"
#include "Mervante.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <type_traits>
#include <unistd.h>

// The library sees the table through its own declaration: both must keep one layout.
static_assert(sizeof(TDecoderIoTable) == sizeof(MervanteIoTable));
static_assert(offsetof(TDecoderIoTable, FileId) == offsetof(MervanteIoTable, FileId));
static_assert(offsetof(TDecoderIoTable, Gets) == offsetof(MervanteIoTable, Gets));
static_assert(offsetof(TDecoderIoTable, Open) == offsetof(MervanteIoTable, Open));
static_assert(offsetof(TDecoderIoTable, Close) == offsetof(MervanteIoTable, Close));
static_assert(offsetof(TDecoderIoTable, Tell) == offsetof(MervanteIoTable, Tell));
static_assert(offsetof(TDecoderIoTable, NoOp) == offsetof(MervanteIoTable, NoOp));
static_assert(offsetof(TDecoderIoTable, Read) == offsetof(MervanteIoTable, Read));
static_assert(offsetof(TDecoderIoTable, Getc) == offsetof(MervanteIoTable, Getc));
static_assert(offsetof(TDecoderIoTable, Write) == offsetof(MervanteIoTable, Write));
static_assert(offsetof(TDecoderIoTable, Putc) == offsetof(MervanteIoTable, Putc));
static_assert(offsetof(TDecoderIoTable, Puts) == offsetof(MervanteIoTable, Puts));
static_assert(offsetof(TDecoderIoTable, Eof) == offsetof(MervanteIoTable, Eof));
static_assert(offsetof(TDecoderIoTable, Seek) == offsetof(MervanteIoTable, Seek));
static_assert(RawPreviewPathBufferSize == MervanteOutputPathSize);
static_assert(std::is_same_v<decltype(TDecoderIoTable::Read), MervanteReadFunc>);
static_assert(std::is_same_v<decltype(TDecoderIoTable::Seek), MervanteSeekFunc>);

namespace {

// Puts back the control word and DefaultFpuControl of before the call on every way out.
class TFpuRestore {
public:
    explicit TFpuRestore(std::uint16_t saved) : FSaved(saved) {}
    ~TFpuRestore() {
        ResetFpu();
        SetFpuControl(FSaved);
    }
    TFpuRestore(const TFpuRestore &) = delete;
    TFpuRestore &operator=(const TFpuRestore &) = delete;

private:
    std::uint16_t FSaved;
};

void RemovePreviewFile(const std::string &path) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        throw Exception("Cannot remove the old preview file \"" + path +
                        "\": " + std::strerror(errno));
}

// True when the file system of path has (next to) no room left for us.
bool NoRoomFor(const std::string &path) {
    struct statvfs fs {};
    const std::string folder = path.substr(0, path.rfind('/') + 1);
    return ::statvfs(folder.c_str(), &fs) == 0 &&
           std::uint64_t(fs.f_bavail) * fs.f_frsize < (std::uint64_t(64) << 10);
}

[[noreturn]] void RaiseTempFull(const std::string &path) {
    throw Exception("The temporary folder \"" + path.substr(0, path.rfind('/')) +
                    "\" is full; the preview picture could not be written there");
}

} // namespace

std::int32_t ExtractRawPreview(const TDecoderIoTable *table, const char *inputPath,
                               char *outputBuffer, std::int32_t *quality) {
    const std::uint16_t saved = DefaultFpuControl;
    SetFpuControl(static_cast<std::uint16_t>(saved | 0x10BF));
    TFpuRestore restore(saved);

    char noFile[RawPreviewPathBufferSize] = {};
    if (inputPath == nullptr || *inputPath == 0) {
        std::strncpy(noFile, NoRawFileName, sizeof noFile - 1);
        inputPath = noFile;
    }
    return ExtractThumbnail(reinterpret_cast<const MervanteIoTable *>(table), inputPath,
                            outputBuffer, quality);
}

std::string TempPreviewFile(TempPreview which) {
    return TempPreviewPath(which);
}

bool ExtractPreviewToTemp(const std::string &rawPath, TempPreview which) {
    return ExtractPreviewToFile(rawPath, TempPreviewFile(which)) == MervanteOk;
}

namespace {

// What the library may open inside the helper: the two descriptors it was handed, by these
// names, and nothing else.
constexpr const char *GivenInputName = "input";
constexpr const char *GivenOutputName = "output";
thread_local int GivenInputFd = -1;
thread_local int GivenOutputFd = -1;

TDecoderFile *OpenGiven(const char *name, const char *mode) {
    if (name == nullptr || mode == nullptr)
        return nullptr;
    int fd = -1;
    if (std::strcmp(name, GivenInputName) == 0 && std::strchr(mode, 'r') &&
        !std::strchr(mode, '+')) {
        fd = GivenInputFd;
    } else if (std::strcmp(name, GivenOutputName) == 0 && std::strchr(mode, 'w')) {
        if (::ftruncate(GivenOutputFd, 0) != 0)
            return nullptr;
        fd = GivenOutputFd;
    }
    if (fd < 0)
        return nullptr;
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    return copy < 0 ? nullptr : IoOpenDescriptor(copy);
}

// Opens the RAW file for the helper: regular files only, so that a pipe cannot stall it.
int OpenRawFile(const std::string &path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

// Writes the preview the helper made; a full folder raises, any other failure is
// MervanteCannotWrite. Nothing is left behind on failure.
int WritePreviewFile(const std::string &path, const TSandboxResult &preview) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return MervanteCannotWrite;
    int error = preview.WriteTo(fd);
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0)
        return MervanteOk;
    const bool full = error == ENOSPC || error == EDQUOT || NoRoomFor(path);
    ::unlink(path.c_str());
    if (full)
        RaiseTempFull(path);
    return MervanteCannotWrite;
}

} // namespace

int ExtractPreviewBetweenDescriptors(int inFd, int outFd) {
    GivenInputFd = inFd;
    GivenOutputFd = outFd;
    TDecoderIoTable table;
    BuildDecoderIoTable(table);
    table.Open = OpenGiven;
    char output[RawPreviewPathBufferSize] = {};
    std::strncpy(output, GivenOutputName, sizeof output - 1);
    std::int32_t quality = 100;
    std::int32_t result = MervanteNoPreview;
    try {
        result = ExtractRawPreview(&table, GivenInputName, output, &quality);
    } catch (const EZeroDivide &) {
    } catch (const EDivByZero &) {
    } catch (const EInOutError &) {
        result = MervanteCannotWrite;
    } catch (const std::bad_alloc &) {
        result = MervanteOutOfMemory;
    } catch (...) {
        result = MervanteNoPreview;
    }
    if (result != MervanteOk && ::ftruncate(outFd, 0) != 0)
        result = MervanteCannotWrite;
    return result;
}

int ExtractPreviewToFile(const std::string &rawPath, const std::string &outputPath,
                         const std::atomic<bool> *cancel) {
    if (outputPath.size() >= RawPreviewPathBufferSize)
        throw Exception("The temporary folder's path is too long for the preview file: \"" +
                        outputPath + "\"");
    RemovePreviewFile(outputPath);

    const int in = OpenRawFile(rawPath);
    if (in < 0)
        return MervanteCannotOpenInput;
    TDecodeRequest request;
    request.Job = TDecodeJob::RawPreview;
    const TSandboxResult result = RunDecode(request, in, cancel);
    ::close(in);
    switch (result.End) {
    case TSandboxEnd::Done:
        break;
    case TSandboxEnd::Crashed:
        return RawPreviewDecoderCrashed;
    case TSandboxEnd::OverLimit:
        return RawPreviewDecoderOverLimit;
    case TSandboxEnd::Cancelled:
        return RawPreviewCancelled;
    default:
        return RawPreviewNoDecoder;
    }
    if (result.Reply.Code != MervanteOk)
        return result.Reply.Code;
    if (result.Reply.Size <= 0)
        return MervanteNoPreview;
    return WritePreviewFile(outputPath, result);
}

std::string RawPreviewFailureText(int result) {
    switch (result) {
    case MervanteOk:
        return "no failure";
    case MervanteCannotOpenInput:
        return "the file cannot be opened";
    case MervanteNoPreview:
        return "no preview picture was found in it";
    case MervanteDamagedPreview:
        return "its preview picture is damaged or cut off";
    case MervanteCannotWrite:
        return "the preview could not be written to the temporary folder";
    case MervanteOutOfMemory:
        return "not enough memory to read its preview";
    case RawPreviewDecoderCrashed:
        return "its decoder crashed on it";
    case RawPreviewDecoderOverLimit:
        return "its decoder went over its time or memory limit on it";
    case RawPreviewNoDecoder:
        return "the decoding helper could not be started";
    case RawPreviewCancelled:
        return "its decode was cancelled";
    default:
        return "no preview picture could be extracted";
    }
}
