#include "JpegWork.h"

#include <jerror.h>

namespace {

void CountWork(j_common_ptr common) {
    auto *cinfo = reinterpret_cast<j_decompress_ptr>(common);
    auto *limit = reinterpret_cast<TJpegWorkLimit *>(common->progress);
    if (cinfo->comps_in_scan <= 0)
        return;
    // The monitor runs before each iMCU row the input side decodes, and also per output row;
    // only a new input row is work.
    const int scan = cinfo->input_scan_number;
    const JDIMENSION row = cinfo->input_iMCU_row;
    if (scan == limit->lastScan && row == limit->lastRow)
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

} // namespace

void LimitJpegWork(jpeg_decompress_struct &cinfo, TJpegWorkLimit &limit) {
    limit.pub.progress_monitor = CountWork;
    cinfo.progress = &limit.pub;
}

std::string JpegWorkMessage(const TJpegWorkLimit &limit) {
    return "The JPEG picture has too many scans for its size; decoding was stopped after " +
           std::to_string(limit.scans) + " scans";
}
