#include "JpegWork.h"

#include <jerror.h>

#include <algorithm>
#include <cerrno>
#include <unistd.h>
#include <vector>

namespace {

void CountWork(j_common_ptr common) {
    auto *cinfo = reinterpret_cast<j_decompress_ptr>(common);
    auto *limit = reinterpret_cast<TJpegWorkLimit *>(common->progress);
    if (limit->cancel && limit->cancel->load(std::memory_order_relaxed)) {
        limit->cancelled = true;
        common->err->msg_code = JERR_BAD_PROGRESSION;
        (*common->err->error_exit)(common);
    }
    if (cinfo->comps_in_scan <= 0)
        return;
    // The monitor runs before each iMCU row the input side decodes, and also per output row;
    // only a new input row is work.
    const int scan = cinfo->input_scan_number;
    const JDIMENSION row = cinfo->input_iMCU_row;
    // Past the last row a scan is over and the next one's header is being read.
    if ((scan == limit->lastScan && row == limit->lastRow) || row >= cinfo->total_iMCU_rows)
        return;
    if (scan != limit->lastScan) {
        ++limit->scans;
        limit->work += JpegScanCost;
    }
    limit->lastScan = scan;
    limit->lastRow = row;
    for (int i = 0; i < cinfo->comps_in_scan; ++i) {
        const jpeg_component_info *c = cinfo->cur_comp_info[i];
        limit->work += std::int64_t(c->width_in_blocks) * c->v_samp_factor;
    }
    if (limit->work > limit->limit) {
        limit->exceeded = true;
        common->err->msg_code = JERR_BAD_PROGRESSION;
        (*common->err->error_exit)(common);
    }
}

// The file read forward through a buffer.
class TByteReader {
public:
    explicit TByteReader(int fd) : FFd(fd), FBuffer(65536) {}
    // The next byte, or -1 at the end (or on a read error).
    int Next() {
        if (FPos == FFilled && !Fill())
            return -1;
        return FBuffer[FPos++];
    }

private:
    bool Fill() {
        ssize_t n;
        do
            n = ::pread(FFd, FBuffer.data(), FBuffer.size(), FOffset);
        while (n < 0 && errno == EINTR);
        if (n <= 0)
            return false;
        FOffset += n;
        FPos = 0;
        FFilled = std::size_t(n);
        return true;
    }
    int FFd;
    std::vector<unsigned char> FBuffer;
    off_t FOffset = 0;
    std::size_t FPos = 0, FFilled = 0;
};

struct TFrameComponent {
    int id, h, v;
    std::int64_t widthInBlocks;
};

} // namespace

std::int64_t JpegWorkOfFile(int fd, std::int64_t limit) {
    TByteReader in(fd);
    if (in.Next() != 0xFF || in.Next() != 0xD8)
        return 0;
    std::vector<TFrameComponent> frame;
    std::int64_t iMcuRows = 0, work = 0;
    int marker = 0;
    for (;;) {
        // Find the next marker; inside entropy-coded data 0xFF 0x00 is a data byte and RSTn
        // only a marker within the scan.
        int c = in.Next();
        for (;;) {
            while (c != 0xFF && c >= 0)
                c = in.Next();
            if (c != 0xFF)
                return work; // the data ended before the next marker
            do
                c = in.Next();
            while (c == 0xFF);
            if (c < 0)
                return work;
            if (c != 0x00 && !(c >= 0xD0 && c <= 0xD7))
                break;
            c = in.Next();
        }
        marker = c;
        if (marker == 0xD9)
            return work;
        if (marker == 0x01)
            continue;
        const int hi = in.Next(), lo = in.Next();
        if (lo < 0)
            return work;
        const int length = hi << 8 | lo;
        if (length < 2)
            return work;
        std::vector<int> body(std::size_t(length - 2));
        for (int &b : body)
            if ((b = in.Next()) < 0)
                return work;
        const bool sof =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (sof && body.size() >= 6) {
            const int height = body[1] << 8 | body[2], width = body[3] << 8 | body[4];
            const std::size_t count = std::size_t(body[5]);
            if (body.size() < 6 + 3 * count || count == 0)
                return work;
            frame.clear();
            int hMax = 1, vMax = 1;
            for (std::size_t i = 0; i < count; ++i) {
                const int h = std::max(body[7 + 3 * i] >> 4, 1),
                          v = std::max(body[7 + 3 * i] & 15, 1);
                frame.push_back({body[6 + 3 * i], h, v, 0});
                hMax = std::max(hMax, h);
                vMax = std::max(vMax, v);
            }
            for (TFrameComponent &f : frame)
                f.widthInBlocks = ((std::int64_t(width) * f.h + hMax - 1) / hMax + 7) / 8;
            iMcuRows = (std::int64_t(height) + 8 * vMax - 1) / (8 * vMax);
        } else if (marker == 0xDA && !body.empty()) {
            // As the monitor counts: the scan's start, then each iMCU row of its components.
            work += JpegScanCost;
            const std::size_t count = std::size_t(body[0]);
            for (std::size_t i = 0; i < count && 1 + 2 * i < body.size(); ++i)
                for (const TFrameComponent &f : frame)
                    if (f.id == body[1 + 2 * i])
                        work += f.widthInBlocks * f.v * iMcuRows;
            if (work > limit)
                return work;
        }
    }
}

void LimitJpegWork(jpeg_decompress_struct &cinfo, TJpegWorkLimit &limit) {
    limit.pub.progress_monitor = CountWork;
    cinfo.progress = &limit.pub;
}

std::string JpegWorkMessage(const TJpegWorkLimit &limit) {
    return "The JPEG picture has too many scans for its size; decoding was stopped after " +
           std::to_string(limit.scans) + " scans";
}

void OpenJpegInMemory(jpeg_decompress_struct &cinfo, const std::uint8_t *data, std::size_t size,
                      TJpegWorkLimit &work) {
    jpeg_create_decompress(&cinfo);
    LimitJpegWork(cinfo, work);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.dct_method = JDCT_ISLOW;
    cinfo.do_block_smoothing = TRUE;
}
