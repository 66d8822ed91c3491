// The TIFF and ISO-media structure walks that find a RAW file's embedded JPEG previews.
#include "EmbeddedPreviews.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <set>
#include <string>

namespace {

// Bounds on what a hostile file can make the walk do.
constexpr int MaxIfds = 64;
constexpr unsigned MaxEntries = 1024;
constexpr unsigned MaxSubIfds = 16;
constexpr int MaxBoxDepth = 4;
constexpr int MaxBoxes = 256;

constexpr std::uint16_t TagCompression = 0x0103;
constexpr std::uint16_t TagStripOffsets = 0x0111;
constexpr std::uint16_t TagOrientation = 0x0112;
constexpr std::uint16_t TagStripByteCounts = 0x0117;
constexpr std::uint16_t TagSubIfds = 0x014A;
constexpr std::uint16_t TagJpegOffset = 0x0201;
constexpr std::uint16_t TagJpegLength = 0x0202;
constexpr std::uint16_t TagPanasonicJpeg = 0x002E;
constexpr std::uint16_t TagExifIfd = 0x8769;
constexpr std::uint16_t TagMakerNote = 0x927C;
constexpr std::uint16_t TagPentaxPreviewLength = 0x0003;
constexpr std::uint16_t TagPentaxPreviewStart = 0x0004;

struct Entry {
    std::uint16_t Tag, Type;
    std::uint32_t Count;
    std::uint32_t Value;         // the first value when it is held in the entry
    std::uint32_t ValueOrOffset; // the entry's last four bytes as a number
};

class TiffWalk {
public:
    TiffWalk(const TReadAt &read, std::int64_t size, TPreviewScan &scan)
        : FRead(read), FSize(size), FScan(scan) {}

    // A TIFF header at base (offsets count from there).
    void FromHeader(std::int64_t base, bool mainPicture) {
        unsigned char h[8];
        if (!FRead(base, h, sizeof h))
            return;
        bool big;
        if (h[0] == 'I' && h[1] == 'I')
            big = false;
        else if (h[0] == 'M' && h[1] == 'M')
            big = true;
        else
            return;
        const std::uint16_t magic = U16(h + 2, big);
        // TIFF, Panasonic RW2, Olympus ORF (two signatures).
        if (magic != 42 && magic != 0x55 && magic != 0x4F52 && magic != 0x5352)
            return;
        Walk(base, U32(h + 4, big), big, mainPicture ? IfdKind::Main : IfdKind::Plain);
    }

private:
    enum class IfdKind { Main, Plain, Exif, Pentax };

    static std::uint16_t U16(const unsigned char *p, bool big) {
        return big ? std::uint16_t(p[0] << 8 | p[1]) : std::uint16_t(p[1] << 8 | p[0]);
    }
    static std::uint32_t U32(const unsigned char *p, bool big) {
        return big ? std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 |
                         std::uint32_t(p[2]) << 8 | p[3]
                   : std::uint32_t(p[3]) << 24 | std::uint32_t(p[2]) << 16 |
                         std::uint32_t(p[1]) << 8 | p[0];
    }

    void Add(std::int64_t offset, std::int64_t length) {
        if (offset <= 0 || length <= 2 || offset >= FSize)
            return;
        const TPreviewSpan span{offset, length};
        if (std::find(FScan.Jpegs.begin(), FScan.Jpegs.end(), span) == FScan.Jpegs.end())
            FScan.Jpegs.push_back(span);
    }

    void Walk(std::int64_t base, std::uint32_t first, bool big, IfdKind kind) {
        std::uint32_t offset = first;
        // The chain: only the main file's IFD0 carries the picture's orientation.
        for (bool first = true; offset != 0; first = false) {
            const std::int64_t at = base + offset;
            if (FIfds >= MaxIfds || !FSeen.insert(at).second)
                return;
            ++FIfds;
            offset =
                ReadIfd(base, at, big, kind == IfdKind::Main && !first ? IfdKind::Plain : kind);
            // Maker notes and Exif IFDs have no chain worth following.
            if (kind == IfdKind::Pentax || kind == IfdKind::Exif)
                return;
        }
    }

    // Reads the IFD at `at`; returns the offset of the next IFD in its chain (0 at the end).
    std::uint32_t ReadIfd(std::int64_t base, std::int64_t at, bool big, IfdKind kind) {
        unsigned char countBytes[2];
        if (!FRead(at, countBytes, 2))
            return 0;
        const unsigned count = U16(countBytes, big);
        if (count == 0 || count > MaxEntries)
            return 0;
        std::vector<unsigned char> raw(size_t(count) * 12 + 4);
        if (!FRead(at + 2, raw.data(), raw.size() - 4))
            return 0;
        // The next-IFD offset may be missing at the very end of a cut file.
        if (!FRead(at + 2 + std::int64_t(count) * 12, raw.data() + count * 12, 4))
            std::memset(raw.data() + count * 12, 0, 4);

        std::uint32_t compression = 0, stripOffset = 0, stripLength = 0, jpegOffset = 0,
                      jpegLength = 0, pentaxStart = 0, pentaxLength = 0;
        bool singleStrip = false;
        std::vector<std::uint32_t> subIfds;
        std::uint32_t exifIfd = 0;
        std::int64_t makerNote = -1, makerNoteLength = 0;
        for (unsigned i = 0; i < count; ++i) {
            const unsigned char *e = &raw[size_t(i) * 12];
            Entry entry{U16(e, big), U16(e + 2, big), U32(e + 4, big), 0, U32(e + 8, big)};
            entry.Value = entry.Type == 3 ? U16(e + 8, big) : entry.ValueOrOffset;
            if (kind == IfdKind::Pentax) {
                if (entry.Tag == TagPentaxPreviewLength)
                    pentaxLength = entry.Value;
                else if (entry.Tag == TagPentaxPreviewStart)
                    pentaxStart = entry.Value;
                continue;
            }
            switch (entry.Tag) {
            case TagCompression:
                compression = entry.Value;
                break;
            case TagStripOffsets:
                singleStrip = entry.Count == 1;
                stripOffset = entry.Value;
                break;
            case TagStripByteCounts:
                stripLength = entry.Value;
                break;
            case TagOrientation:
                if (kind == IfdKind::Main && entry.Value >= 1 && entry.Value <= 8)
                    FScan.Orientation = int(entry.Value);
                break;
            case TagJpegOffset:
                jpegOffset = entry.Value;
                break;
            case TagJpegLength:
                jpegLength = entry.Value;
                break;
            case TagPanasonicJpeg:
                if (entry.Count > 4)
                    Add(base + entry.ValueOrOffset, entry.Count);
                break;
            case TagSubIfds:
                ReadSubIfds(base, entry, big, subIfds);
                break;
            case TagExifIfd:
                exifIfd = entry.Value;
                break;
            case TagMakerNote:
                if (entry.Count > 4) {
                    makerNote = base + entry.ValueOrOffset;
                    makerNoteLength = entry.Count;
                }
                break;
            default:
                break;
            }
        }
        const std::uint32_t next = U32(raw.data() + count * 12, big);

        if (kind == IfdKind::Pentax) {
            // Offsets count from the TIFF header that holds the maker note.
            if (pentaxStart && pentaxLength)
                Add(base + pentaxStart, pentaxLength);
            return 0;
        }
        if (jpegOffset && jpegLength)
            Add(base + jpegOffset, jpegLength);
        // A strip of JPEG compression: a preview, or the raw data itself in lossless JPEG,
        // which the reader's header check turns away.
        if ((compression == 6 || compression == 7) && singleStrip && stripOffset && stripLength)
            Add(base + stripOffset, stripLength);
        for (const std::uint32_t sub : subIfds)
            Walk(base, sub, big, IfdKind::Plain);
        if (exifIfd)
            Walk(base, exifIfd, big, IfdKind::Exif);
        if (makerNote >= 0)
            PentaxMakerNote(base, makerNote, makerNoteLength, big);
        return next;
    }

    void ReadSubIfds(std::int64_t base, const Entry &entry, bool big,
                     std::vector<std::uint32_t> &out) {
        if (entry.Type != 4 && entry.Type != 13)
            return;
        if (entry.Count == 1) {
            out.push_back(entry.Value);
            return;
        }
        const unsigned n = std::min<std::uint32_t>(entry.Count, MaxSubIfds);
        std::vector<unsigned char> offsets(size_t(n) * 4);
        if (!FRead(base + entry.ValueOrOffset, offsets.data(), offsets.size()))
            return;
        for (unsigned i = 0; i < n; ++i)
            out.push_back(U32(&offsets[size_t(i) * 4], big));
    }

    // Pentax keeps its preview in the maker note: "AOC\0" with offsets from the file's TIFF
    // header, or "PENTAX \0" with offsets from the note itself; a byte order follows either.
    void PentaxMakerNote(std::int64_t base, std::int64_t at, std::int64_t length, bool big) {
        unsigned char h[10];
        if (length < 12 || !FRead(at, h, sizeof h))
            return;
        std::int64_t ifd, noteBase;
        const unsigned char *order;
        if (std::memcmp(h, "AOC\0", 4) == 0) {
            order = h + 4;
            ifd = at + 6;
            noteBase = base;
        } else if (std::memcmp(h, "PENTAX \0", 8) == 0) {
            order = h + 8;
            ifd = at + 10;
            noteBase = at;
        } else {
            return;
        }
        if (order[0] == 'M' && order[1] == 'M')
            big = true;
        else if (order[0] == 'I' && order[1] == 'I')
            big = false;
        if (ifd - noteBase < 0 || ifd - noteBase > 0xFFFFFFFFLL)
            return;
        Walk(noteBase, std::uint32_t(ifd - noteBase), big, IfdKind::Pentax);
    }

    const TReadAt &FRead;
    const std::int64_t FSize;
    TPreviewScan &FScan;
    std::set<std::int64_t> FSeen;
    int FIfds = 0;
};

// CR3: ISO base media boxes. The preview ("PRVW") and the thumbnail ("THMB") sit in Canon's
// uuid boxes, each a short header and then a JPEG file up to the box's end; "CMT1" holds the
// main picture's TIFF IFD0 with its orientation.
class BoxWalk {
public:
    BoxWalk(const TReadAt &read, std::int64_t size, TPreviewScan &scan)
        : FRead(read), FSize(size), FScan(scan) {}

    void Walk(std::int64_t from, std::int64_t to, int depth) {
        std::int64_t at = from;
        while (at + 8 <= to && FBoxes < MaxBoxes) {
            ++FBoxes;
            unsigned char h[16];
            if (!FRead(at, h, 8))
                return;
            std::int64_t size = std::int64_t(h[0]) << 24 | h[1] << 16 | h[2] << 8 | h[3];
            std::int64_t header = 8;
            if (size == 1) {
                if (!FRead(at + 8, h + 8, 8))
                    return;
                size = 0;
                for (int i = 8; i < 16; ++i)
                    size = size << 8 | h[i];
                header = 16;
            } else if (size == 0) {
                size = to - at;
            }
            if (size < header || size > to - at)
                return;
            const std::string type(reinterpret_cast<const char *>(h + 4), 4);
            Box(type, at + header, at + size, depth);
            at += size;
        }
    }

private:
    void Box(const std::string &type, std::int64_t from, std::int64_t to, int depth) {
        if (type == "PRVW" || type == "THMB") {
            // The JPEG starts after a header of a few numbers.
            unsigned char head[64];
            const std::int64_t n = std::min<std::int64_t>(sizeof head, to - from);
            if (n < 4 || !FRead(from, head, size_t(n)))
                return;
            for (std::int64_t i = 0; i + 2 < n; ++i)
                if (head[i] == 0xFF && head[i + 1] == 0xD8 && head[i + 2] == 0xFF) {
                    const TPreviewSpan span{from + i, to - from - i};
                    if (std::find(FScan.Jpegs.begin(), FScan.Jpegs.end(), span) ==
                        FScan.Jpegs.end())
                        FScan.Jpegs.push_back(span);
                    return;
                }
            return;
        }
        if (type == "CMT1") {
            TPreviewScan tiff;
            TiffWalk(FRead, FSize, tiff).FromHeader(from, true);
            FScan.Orientation = tiff.Orientation;
            return;
        }
        if (depth >= MaxBoxDepth)
            return;
        if (type == "moov") {
            Walk(from, to, depth + 1);
        } else if (type == "uuid") {
            // A uuid box's children follow its 16-byte id, in Canon's preview box after eight
            // bytes more.
            for (const std::int64_t skip : {16, 24}) {
                unsigned char h[8];
                if (from + skip + 8 > to || !FRead(from + skip, h, 8))
                    continue;
                if (std::all_of(h + 4, h + 8, [](unsigned char c) {
                        return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
                    })) {
                    Walk(from + skip, to, depth + 1);
                    return;
                }
            }
        }
    }

    const TReadAt &FRead;
    const std::int64_t FSize;
    TPreviewScan &FScan;
    int FBoxes = 0;
};

// CRW: Canon's CIFF heaps. A heap ends with the offset of its table of records (type, size,
// offset from the heap's start); some records are heaps themselves, two hold JPEG pictures.
class CiffWalk {
public:
    CiffWalk(const TReadAt &read, TPreviewScan &scan) : FRead(read), FScan(scan) {}

    void Heap(std::int64_t from, std::int64_t to, int depth) {
        unsigned char b[4];
        if (to - from < 6 || depth > MaxBoxDepth || ++FHeaps > MaxBoxes || !FRead(to - 4, b, 4))
            return;
        const std::int64_t table = from + U32(b);
        if (table < from || table + 2 > to || !FRead(table, b, 2))
            return;
        const unsigned count = unsigned(b[0] | b[1] << 8);
        if (count > MaxEntries)
            return;
        std::vector<unsigned char> records(size_t(count) * 10);
        if (!FRead(table + 2, records.data(), records.size()))
            return;
        for (unsigned i = 0; i < count; ++i) {
            const unsigned char *r = &records[size_t(i) * 10];
            const unsigned type = unsigned(r[0] | r[1] << 8);
            const std::int64_t size = U32(r + 2), at = from + U32(r + 6);
            // Bits 14 and 15: a value held in the record itself, not in the heap.
            if ((type & 0xC000) != 0 || at < from || size > to - at)
                continue;
            if (type == 0x2007 || type == 0x2008) { // the large JPEG, the thumbnail
                FScan.Jpegs.push_back({at, size});
            } else if ((type >> 8 & 0x38) == 0x28 || (type >> 8 & 0x38) == 0x30) {
                Heap(at, at + size, depth + 1);
            }
        }
    }

private:
    static std::uint32_t U32(const unsigned char *p) {
        return std::uint32_t(p[3]) << 24 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 |
               p[0];
    }

    const TReadAt &FRead;
    TPreviewScan &FScan;
    int FHeaps = 0;
};

} // namespace

TPreviewScan ScanPreviews(const TReadAt &read, std::int64_t fileSize) {
    TPreviewScan scan;
    unsigned char h[12];
    if (fileSize < 16 || !read(0, h, sizeof h))
        return scan;
    if (std::memcmp(h + 4, "ftypcrx ", 8) == 0) {
        BoxWalk(read, fileSize, scan).Walk(0, fileSize, 0);
    } else if (h[0] == 'I' && h[1] == 'I' && std::memcmp(h + 6, "HEAP", 4) == 0) {
        const std::int64_t header = std::int64_t(h[2]) | std::int64_t(h[3]) << 8 |
                                    std::int64_t(h[4]) << 16 | std::int64_t(h[5]) << 24;
        CiffWalk(read, scan).Heap(header, fileSize, 0);
    } else
        TiffWalk(read, fileSize, scan).FromHeader(0, true);
    return scan;
}

int FlipOfOrientation(int orientation) {
    static constexpr std::array<int, 9> Flips = {0, 0, 1, 3, 2, 4, 6, 7, 5};
    return orientation >= 1 && orientation <= 8 ? Flips[size_t(orientation)] : 0;
}
