#include "DecoderIo.h"

#include "Exceptions.h"
#include "Global_FastIO.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#if defined(__i386__) || defined(__x86_64__)
#define PIXAVANT_HAVE_X87 1
#endif

thread_local std::uint16_t DefaultFpuControl = 0x037F;

std::uint16_t LiveFpuControl() {
#ifdef PIXAVANT_HAVE_X87
    std::uint16_t w;
    asm volatile("fnstcw %0" : "=m"(w));
    return w;
#else
    return 0;
#endif
}

void SetFpuControl(std::uint16_t w) {
    DefaultFpuControl = w;
#ifdef PIXAVANT_HAVE_X87
    asm volatile("fnclex\n\tfldcw %0" : : "m"(w));
#endif
}

void ResetFpu() {
#ifdef PIXAVANT_HAVE_X87
    asm volatile("fninit\n\tfldcw %0" : : "m"(DefaultFpuControl));
#endif
}

namespace {

// Gives the decoder back exactly the control word it had when it called an entry, also when
// the entry leaves by an exception.
class TFpuBracket {
public:
    TFpuBracket() : FSaved(LiveFpuControl()) {}
    ~TFpuBracket() {
        ResetFpu();
        SetFpuControl(FSaved);
    }
    TFpuBracket(const TFpuBracket &) = delete;
    TFpuBracket &operator=(const TFpuBracket &) = delete;

private:
    std::uint16_t FSaved;
};

bool Valid(const TDecoderFile *stream) {
    return stream != nullptr && stream->Magic == DecoderFileMagic && stream->File != nullptr;
}

// Seeks an append stream to where its next write belongs.
void PositionForWrite(TDecoderFile *stream) {
    if (stream->Kind == 1)
        stream->File->Seek(stream->AppendPos, 0);
}

void CreateEmptyFile(const std::string &name) {
    std::int32_t code = 0;
    TFastFile file(name, FastFileCreateMode, code);
    file.Close(true);
}

char EmptyString[1] = {0};

} // namespace

extern "C" {

std::intptr_t IoFileId(TDecoderFile *stream) {
    TFpuBracket bracket;
    if (!Valid(stream))
        return -1;
    return reinterpret_cast<std::intptr_t>(stream->File);
}

char *IoGets(char *buffer, std::int32_t n, TDecoderFile *stream) {
    TFpuBracket bracket;
    if (!Valid(stream) || buffer == nullptr || n < 1) {
        EmptyString[0] = 0;
        return EmptyString;
    }
    TFastFile &file = *stream->File;
    if (file.Position() == file.Size())
        return nullptr;
    std::int32_t i = 0;
    for (;;) {
        if (file.Read(buffer + i, 1) != 1)
            break;
        if (buffer[i] == '\n' || i >= n - 1)
            break;
        ++i;
    }
    buffer[i] = 0;
    return buffer;
}

TDecoderFile *IoOpen(const char *name, const char *mode) {
    TFpuBracket bracket;
    if (name == nullptr || mode == nullptr)
        return nullptr;
    try {
        auto record = std::make_unique<TDecoderFile>();
        record->File = nullptr;
        record->Magic = DecoderFileMagic;
        record->Kind = 0;
        record->AppendPos = 0;

        std::int32_t access;
        if (std::strstr(mode, "r+")) {
            access = 2;
        } else if (std::strchr(mode, 'r')) {
            access = 0;
        } else if (std::strchr(mode, 'w')) {
            if (*name != 0) // an empty name is a new in-memory file: nothing to create
                CreateEmptyFile(name);
            access = 2;
        } else if (std::strchr(mode, 'a')) {
            access = 2;
            record->Kind = 1;
        } else {
            return nullptr; // no access asked for: nothing sensible to open
        }

        std::int32_t code = 0;
        auto file = std::make_unique<TFastFile>(name, access + 0x40, code);
        if (code != 0)
            return nullptr;
        if (record->Kind == 1)
            record->AppendPos = file->Size();
        record->File = file.release();
        return record.release();
    } catch (...) {
        return nullptr;
    }
}

TDecoderFile *IoOpenDescriptor(int fd) {
    TFpuBracket bracket;
    try {
        auto record = std::make_unique<TDecoderFile>();
        record->Magic = DecoderFileMagic;
        record->Kind = 0;
        record->AppendPos = 0;
        record->File = new TFastFile(fd);
        return record.release();
    } catch (...) {
        return nullptr;
    }
}

std::int32_t IoClose(TDecoderFile *stream) {
    TFpuBracket bracket;
    if (!Valid(stream))
        return 0;
    std::unique_ptr<TFastFile> file(stream->File);
    std::unique_ptr<TDecoderFile> record(stream);
    record->File = nullptr;
    record->Magic = 0; // a stale record must not pass for an open one
    file->Close(true);
    return 0;
}

std::int32_t IoTell(TDecoderFile *stream) {
    TFpuBracket bracket;
    if (!Valid(stream))
        return -1;
    return stream->File->Position();
}

std::int32_t IoNoOp(void) {
    return 0;
}

// size x count in bytes, or -1 when either is negative or the product leaves 32 bits.
static std::int32_t ByteCount(std::int32_t size, std::int32_t count) {
    const std::int64_t bytes = std::int64_t(size) * count;
    if (size < 0 || count < 0 || bytes > std::numeric_limits<std::int32_t>::max())
        return -1;
    return static_cast<std::int32_t>(bytes);
}

std::int32_t IoRead(void *buffer, std::int32_t size, std::int32_t count, TDecoderFile *stream) {
    TFpuBracket bracket;
    if (!Valid(stream))
        return -1;
    const std::int32_t bytes = ByteCount(size, count);
    if (bytes < 0)
        return -1;
    if (bytes == 0)
        return 0;
    return stream->File->Read(buffer, bytes);
}

// Unchecked and unbracketed on purpose: the per-byte path (see the header).
std::int32_t IoGetc(TDecoderFile *stream) {
    TFastFile &file = *stream->File;
    const std::uint8_t b = file.ReadByte();
    return file.EndFlag() ? -1 : b;
}

std::int32_t IoWrite(const void *buffer, std::int32_t size, std::int32_t count,
                     TDecoderFile *stream) {
    TFpuBracket bracket;
    if (!Valid(stream))
        return -1;
    const std::int32_t bytes = ByteCount(size, count);
    if (bytes < 0)
        return -1;
    if (size == 0)
        return 0;
    PositionForWrite(stream);
    const std::int32_t written = stream->File->Write(buffer, bytes);
    stream->AppendPos += written;
    return written / size;
}

std::int32_t IoPutc(std::int32_t c, TDecoderFile *stream) {
    TFpuBracket bracket;
    if (stream == nullptr) {
        if (std::fputc(c & 0xFF, stdout) == EOF || std::fflush(stdout) != 0)
            throw EInOutError(29);
        return c;
    }
    if (!Valid(stream))
        return -1;
    PositionForWrite(stream);
    const std::uint8_t b = static_cast<std::uint8_t>(c & 0xFF);
    if (stream->File->Write(&b, 1) != 1)
        return -1;
    ++stream->AppendPos;
    return b;
}

std::int32_t IoPuts(const char *text, TDecoderFile *stream) {
    TFpuBracket bracket;
    if (!Valid(stream) || text == nullptr)
        return -1;
    const std::size_t length = std::strlen(text);
    if (length == 0)
        return 1;
    if (length > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        return -1;
    PositionForWrite(stream);
    const auto n = static_cast<std::int32_t>(length);
    const std::int32_t written = stream->File->Write(text, n);
    stream->AppendPos += written;
    return written == n ? 1 : -1;
}

std::int32_t IoEof(TDecoderFile *stream) {
    TFpuBracket bracket;
    if (!Valid(stream))
        return -1;
    return stream->File->Position() == stream->File->Size() ? -1 : 0;
}

std::int32_t IoSeek(TDecoderFile *stream, std::int32_t offset, std::int32_t whence) {
    TFpuBracket bracket;
    if (!Valid(stream) || whence < 0 || whence > 2)
        return -1;
    stream->File->Seek(offset, whence);
    return 0;
}

} // extern "C"

void BuildDecoderIoTable(TDecoderIoTable &table) {
    std::memset(&table, 0, sizeof table);
    table.Size = sizeof(TDecoderIoTable);
    table.FileId = IoFileId;
    table.Gets = IoGets;
    table.Open = IoOpen;
    table.Close = IoClose;
    table.Tell = IoTell;
    table.NoOp = IoNoOp;
    table.Read = IoRead;
    table.Getc = IoGetc;
    table.Write = IoWrite;
    table.Putc = IoPutc;
    table.Puts = IoPuts;
    table.Eof = IoEof;
    table.Seek = IoSeek;
}
