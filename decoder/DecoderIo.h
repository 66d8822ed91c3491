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

// The entries, in C's calling convention. Each but IoGetc and IoNoOp first checks that the
// stream is one IoOpen returned and IoClose has not closed (Magic), and answers with its
// failure value otherwise; each runs in the FPU bracket (the decoder gets its control word
// back). End of data is no failure. A platform failure (a disk error, a seek before the start
// of a disk file, standard output that cannot be written) raises EInOutError and ends the
// extraction call.
extern "C" {
// The record's File reference as a number; -1 on an invalid stream.
std::intptr_t IoFileId(TDecoderFile *stream);
// Reads up to n - 1 bytes, through the first line feed, and terminates them; null at the end,
// an empty string on an invalid stream, a null buffer or n < 1.
char *IoGets(char *buffer, std::int32_t n, TDecoderFile *stream);
// A stream on the named file as fopen's mode says ("" is a new in-memory file); null on any
// failure, never raises.
TDecoderFile *IoOpen(const char *name, const char *mode);
// A stream on an open descriptor of a regular file, which it takes over (closed with the
// stream), positioned at its start; null on any failure, never raises.
TDecoderFile *IoOpenDescriptor(int fd);
// Closes and frees the stream; always 0.
std::int32_t IoClose(TDecoderFile *stream);
// The logical position; -1 on an invalid stream.
std::int32_t IoTell(TDecoderFile *stream);
// Reads nothing, does nothing; 0.
std::int32_t IoNoOp(void);
// Bytes read (not items); -1 on an invalid stream or a size x count beyond 32 bits.
std::int32_t IoRead(void *buffer, std::int32_t size, std::int32_t count, TDecoderFile *stream);
// The next byte, 0 to 255, or -1 at the end. The decoder's per-byte path: no validity test
// and no FPU bracket, since it is called once per byte of the file and is served from the
// buffer (the decoder hands it only streams it opened).
std::int32_t IoGetc(TDecoderFile *stream);
// Whole items written; -1 on an invalid stream or a size x count beyond 32 bits.
std::int32_t IoWrite(const void *buffer, std::int32_t size, std::int32_t count,
                     TDecoderFile *stream);
// The byte written, 0 to 255; a null stream is standard output and gives c back; -1 on an
// invalid stream or a failed write.
std::int32_t IoPutc(std::int32_t c, TDecoderFile *stream);
// 1 when the whole string was written; -1 on an invalid stream, a null string or a short
// write.
std::int32_t IoPuts(const char *text, TDecoderFile *stream);
// -1 at the end, 0 before it; -1 also on an invalid stream.
std::int32_t IoEof(TDecoderFile *stream);
// 0 once moved (fseek's origins 0, 1, 2); -1 on an invalid stream or another origin.
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
