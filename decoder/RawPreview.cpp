#include "RawPreview.h"

#include "Exceptions.h"
#include "Mervante.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
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

bool PreviewExists(const std::string &path) {
    return ::access(path.c_str(), F_OK) == 0;
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

int ExtractPreviewToFile(const std::string &rawPath, const std::string &outputPath) {
    std::int32_t quality = 100;
    if (outputPath.size() >= RawPreviewPathBufferSize)
        throw Exception("The temporary folder's path is too long for the preview file: \"" +
                        outputPath + "\"");
    char output[RawPreviewPathBufferSize] = {};
    std::memcpy(output, outputPath.data(), outputPath.size());

    RemovePreviewFile(outputPath);

    TDecoderIoTable table;
    BuildDecoderIoTable(table);

    std::int32_t result = MervanteNoPreview;
    try {
        result = ExtractRawPreview(&table, rawPath.c_str(), output, &quality);
    } catch (const EZeroDivide &) {
    } catch (const EDivByZero &) {
    } catch (const EInOutError &e) {
        const bool full = e.ErrorCode() == 101 && NoRoomFor(outputPath);
        ::unlink(outputPath.c_str()); // a half-written preview is no preview
        if (full)
            RaiseTempFull(outputPath);
        throw;
    } catch (...) {
        ::unlink(outputPath.c_str());
        throw;
    }
    if (result != MervanteOk) {
        // A preview cut short by a full folder is not a RAW file without a preview.
        const bool full = result == MervanteCannotWrite && NoRoomFor(outputPath);
        ::unlink(outputPath.c_str());
        if (full)
            RaiseTempFull(outputPath);
        return result;
    }
    return PreviewExists(outputPath) ? MervanteOk : MervanteCannotWrite;
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
    default:
        return "no preview picture could be extracted";
    }
}
