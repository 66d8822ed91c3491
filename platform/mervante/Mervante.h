// The RAW preview library's interface: one call that writes the preview picture of a RAW file
// into a JPEG file, doing all of its file work through a table of input/output entries that the
// caller hands over with every call. The library never opens a file by itself.
#pragma once

#include <cstdint>

extern "C" {

// The caller's record of an open file, opaque to the library: it only hands it back.
struct TDecoderFile;
typedef TDecoderFile MervanteStream;

// Entries use the platform's C calling convention. Integers are 32 bits; addresses and the
// file id are pointer-sized.
typedef std::intptr_t (*MervanteFileIdFunc)(MervanteStream *stream);
typedef char *(*MervanteGetsFunc)(char *buffer, std::int32_t n, MervanteStream *stream);
typedef MervanteStream *(*MervanteOpenFunc)(const char *name, const char *mode);
typedef std::int32_t (*MervanteCloseFunc)(MervanteStream *stream);
typedef std::int32_t (*MervanteTellFunc)(MervanteStream *stream);
typedef std::int32_t (*MervanteNoOpFunc)(void);
typedef std::int32_t (*MervanteReadFunc)(void *buffer, std::int32_t size, std::int32_t count,
                                         MervanteStream *stream);
typedef std::int32_t (*MervanteGetcFunc)(MervanteStream *stream);
typedef std::int32_t (*MervanteWriteFunc)(const void *buffer, std::int32_t size, std::int32_t count,
                                          MervanteStream *stream);
typedef std::int32_t (*MervantePutcFunc)(std::int32_t c, MervanteStream *stream);
typedef std::int32_t (*MervantePutsFunc)(const char *text, MervanteStream *stream);
typedef std::int32_t (*MervanteEofFunc)(MervanteStream *stream);
typedef std::int32_t (*MervanteSeekFunc)(MervanteStream *stream, std::int32_t offset,
                                         std::int32_t whence);

struct MervanteIoTable {
    std::intptr_t Size; // sizeof(MervanteIoTable)
    MervanteFileIdFunc FileId;
    MervanteGetsFunc Gets;
    MervanteOpenFunc Open;
    MervanteCloseFunc Close;
    MervanteTellFunc Tell;
    MervanteNoOpFunc NoOp;
    MervanteReadFunc Read;
    MervanteGetcFunc Getc;
    MervanteWriteFunc Write;
    MervantePutcFunc Putc;
    MervantePutsFunc Puts;
    MervanteEofFunc Eof;
    MervanteSeekFunc Seek;
    void *Reserved[2];
};

// Size of the output path buffer, terminator included.
enum { MervanteOutputPathSize = 261 };

// Result codes of ExtractThumbnail.
enum {
    MervanteOk = 0,
    MervanteBadArguments = 1,
    MervanteCannotOpenInput = 2,
    MervanteNoPreview = 3,      // not a RAW file we know, or it carries no preview
    MervanteDamagedPreview = 4, // the preview is cut off, too large or not a picture
    MervanteCannotWrite = 5,
    MervanteOutOfMemory = 6,
};

// The marker segment that carries the turn of a JPEG preview: APP15 holding MervanteTurnId and
// one byte, LibRaw's flip (bit 2: swap rows and columns, then bit 1: mirror rows, bit 0: mirror
// columns, as the upright pixel's source in the stored picture).
enum { MervanteTurnMarker = 0xEF, MervanteTurnIdLength = 14 };
static constexpr unsigned char MervanteTurnId[MervanteTurnIdLength + 1] = "Pixavant turn";

// Writes the largest preview of the RAW file `input` as a JPEG file to the path held in
// `output` (MervanteOutputPathSize bytes). A JPEG preview is written as the file stores it, with
// the turn that makes it upright in a MervanteTurnMarker segment right after its start when it
// needs one; a bitmap preview is encoded upright. `quality` (1 to 100, may be null) is the JPEG
// quality used when the preview has to be encoded. Returns MervanteOk when the file was
// written. An exception raised by an entry of the table leaves this call unchanged, after every
// stream the library opened has been closed.
__attribute__((visibility("default"))) int ExtractThumbnail(const MervanteIoTable *table,
                                                            const char *input, char *output,
                                                            std::int32_t *quality);
}
