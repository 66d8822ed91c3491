#include "SandboxedDecode.h"

#include "DecodeSandbox.h"

namespace {

// The helper's pixels, checked against what their size and format must take.
bool TakePixels(const TSandboxResult &answer, QImage &result) {
    const TDecodeReply &reply = answer.Reply;
    if (reply.Width <= 0 || reply.Height <= 0 ||
        (long long)reply.Width * reply.Height > MaxPicturePixels ||
        reply.Format <= int(QImage::Format_Invalid) || reply.Format >= int(QImage::NImageFormats))
        return false;
    const auto format = QImage::Format(reply.Format);
    if (format == QImage::Format_Indexed8 || format == QImage::Format_Mono ||
        format == QImage::Format_MonoLSB)
        return false; // a palette would have to come along
    QImage image(reply.Width, reply.Height, format);
    if (image.isNull() || image.bytesPerLine() != reply.BytesPerLine ||
        reply.Size != image.sizeInBytes() || !answer.Read(image.bits()))
        return false;
    result = std::move(image);
    return true;
}

} // namespace

TDecodeResult DecodeInSandbox(int fd, TPictureKind kind, QSize box, bool cover,
                              const std::atomic<bool> &killed, std::chrono::milliseconds budget,
                              QImage &result) {
    TDecodeRequest request;
    request.Job = kind == TPictureKind::Wmf ? TDecodeJob::Metafile : TDecodeJob::Picture;
    request.PictureKind = int(kind);
    request.BoxWidth = box.width();
    request.BoxHeight = box.height();
    request.Cover = cover ? 1 : 0;
    request.BudgetMs = budget.count();
    const TSandboxResult answer = RunDecode(request, fd, &killed);
    switch (answer.End) {
    case TSandboxEnd::Done:
        break;
    case TSandboxEnd::Cancelled:
        return TDecodeResult::Killed;
    case TSandboxEnd::OverLimit:
        return TDecodeResult::TimedOut;
    default:
        return TDecodeResult::Failed;
    }
    if (answer.Reply.Status != TDecodeStatus::Done)
        return TDecodeResult::Failed;
    const auto code = TDecodeResult(answer.Reply.Code);
    if (code != TDecodeResult::Ok)
        return code == TDecodeResult::TimedOut ? code : TDecodeResult::Failed;
    return TakePixels(answer, result) ? TDecodeResult::Ok : TDecodeResult::Failed;
}
