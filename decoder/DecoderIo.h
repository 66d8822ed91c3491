// The table of input/output entries handed to the RAW preview library with every call, the
// file record behind each stream it opens, and the x87 control word kept around the call.
#pragma once

#include <cstdint>

class TFastFile;

constexpr std::int32_t DecoderFileMagic = 0x6969;

struct TDecoderFile {
    TFastFile *File;
    std::int32_t Magic;
    std::int32_t Kind; // 0 ordinary, 1 append
    std::int32_t AppendPos;
};

extern "C" {
std::intptr_t IoFileId(TDecoderFile *stream);
char *IoGets(char *buffer, std::int32_t n, TDecoderFile *stream);
TDecoderFile *IoOpen(const char *name, const char *mode);
std::int32_t IoClose(TDecoderFile *stream);
std::int32_t IoTell(TDecoderFile *stream);
std::int32_t IoNoOp(void);
std::int32_t IoRead(void *buffer, std::int32_t size, std::int32_t count, TDecoderFile *stream);
std::int32_t IoGetc(TDecoderFile *stream);
std::int32_t IoWrite(const void *buffer, std::int32_t size, std::int32_t count,
                     TDecoderFile *stream);
std::int32_t IoPutc(std::int32_t c, TDecoderFile *stream);
std::int32_t IoPuts(const char *text, TDecoderFile *stream);
std::int32_t IoEof(TDecoderFile *stream);
std::int32_t IoSeek(TDecoderFile *stream, std::int32_t offset, std::int32_t whence);
}

// Pointer-sized fields keep the order of the 32-bit layout: the size first, the 13 entries,
// then two zero slots (128 bytes on x86-64, 64 on 32-bit x86).
struct TDecoderIoTable {
    std::intptr_t Size;
    decltype(&IoFileId) FileId;
    decltype(&IoGets) Gets;
    decltype(&IoOpen) Open;
    decltype(&IoClose) Close;
    decltype(&IoTell) Tell;
    decltype(&IoNoOp) NoOp;
    decltype(&IoRead) Read;
    decltype(&IoGetc) Getc;
    decltype(&IoWrite) Write;
    decltype(&IoPutc) Putc;
    decltype(&IoPuts) Puts;
    decltype(&IoEof) Eof;
    decltype(&IoSeek) Seek;
    void *Reserved[2];
};

static_assert(sizeof(TDecoderIoTable) == 16 * sizeof(void *));

// Zero-fills table and stores its size and the 13 entries.
void BuildDecoderIoTable(TDecoderIoTable &table);

// The control word the program treats as its normal one; it starts as the platform's own
// default (on Linux an unmasked x87 exception would kill the process instead of raising).
// Each thread has its own, as each has its own x87 unit: workers converting RAW files side by
// side must not take one another's masked word for their normal one.
extern thread_local std::uint16_t DefaultFpuControl;
// Stores w in DefaultFpuControl, clears pending x87 exceptions and loads w.
void SetFpuControl(std::uint16_t w);
// Reinitialises the x87 unit and loads DefaultFpuControl.
void ResetFpu();
// The live x87 control word (0 where there is no x87 unit).
std::uint16_t LiveFpuControl();
