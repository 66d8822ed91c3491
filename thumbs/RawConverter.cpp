#include "RawConverter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <exception>

#include "Exceptions.h"
#include "FileRead.h"
#include "FileSystem.h"
#include "GuiThread.h"
#include "JpegCodec.h"
#include "JpegConv.h"
#include "JpegMarkers.h"
#include "RawPreview.h"
#include "ThumbnailFile.h"

namespace {

// A thumbnail file larger than this is not read to see whether it is current: it is made again.
constexpr off_t MaxCurrentThumbnailBytes = 16 << 20;

} // namespace

std::string RawFileIdentity(const std::string &raw) {
    struct stat st {};
    if (::stat(raw.c_str(), &st) != 0)
        return {};
    return std::to_string(st.st_dev) + ':' + std::to_string(st.st_ino) + ':' +
           std::to_string(st.st_size) + ':' + std::to_string(st.st_mtim.tv_sec) + '.' +
           std::to_string(st.st_mtim.tv_nsec);
}

bool ThumbnailIsCurrent(const std::string &identity, const std::string &thumb) {
    if (identity.empty())
        return false;
    const int fd = ::open(thumb.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    std::vector<std::uint8_t> bytes;
    struct stat t {};
    const bool read = ::fstat(fd, &t) == 0 && S_ISREG(t.st_mode) && t.st_size > 0 &&
                      t.st_size <= MaxCurrentThumbnailBytes &&
                      ReadFileBytes(fd, std::size_t(t.st_size), bytes) == 0;
    ::close(fd);
    if (!read)
        return false;
    bool ours = false, same = false;
    const std::string source = ThumbnailSourcePrefix + identity;
    WalkJpegHeader(bytes.data(), bytes.size(), [&](const JpegSegment &segment) {
        const auto text = [&](const char *s, std::size_t n) {
            return segment.size == n && std::memcmp(segment.data, s, n) == 0;
        };
        if (segment.marker == 0xFE) {
            ours = ours || text(ThumbnailComment, sizeof ThumbnailComment - 1);
            same = same || text(source.data(), source.size());
        }
        return false;
    });
    return ours && same && JpegIsWhole(bytes.data(), bytes.size());
}

void MakeRawThumbnail(const std::string &preview, const std::string &folder, const std::string &raw,
                      const TThumbSettings &settings, const std::string &identity) {
    WriteThumbnailFile(preview, ThumbnailPath(folder, settings.Prefix, raw), settings.Width,
                       settings.Height, settings.FillColor, identity);
}

TRawResult ConvertRawFile(const std::string &folder, const std::string &name,
                          const TThumbSettings &settings, const std::string &previewPath) {
    TRawResult result;
    result.Name = name;
    const std::string raw = IncludeTrailingPathDelimiter(folder) + name;
    const std::string thumb = ThumbnailPath(folder, settings.Prefix, raw);
    try {
        // The identity is taken before the preview: a RAW file changed meanwhile is not
        // taken for the one the thumbnail shows.
        const std::string identity = RawFileIdentity(raw);
        if (ThumbnailIsCurrent(identity, thumb)) {
            result.Outcome = TRawOutcome::UpToDate;
            return result;
        }
        const int code = ExtractPreviewToFile(raw, previewPath);
        if (code != 0) {
            result.Error = RawPreviewFailureText(code);
            return result;
        }
        MakeRawThumbnail(previewPath, folder, raw, settings, identity);
        result.Outcome = TRawOutcome::Converted;
    } catch (const std::exception &e) {
        result.Error = e.what();
    } catch (...) {
        result.Error = "unknown error";
    }
    return result;
}

TRawConverter::TRawConverter(int workers, QObject *parent) : QObject(parent) {
    if (workers < 1)
        workers = int(std::max(1u, std::thread::hardware_concurrency()));
    FWorkers = workers;
}

TRawConverter::~TRawConverter() {
    Stop();
    Wait();
}

std::string TRawConverter::WorkerPreviewPath(int worker) {
    // The process id in the name keeps two running instances apart.
    return TempPreviewPath(TempPreview::Scan, worker);
}

namespace {

// Numbers every worker of the process: a pass that is still ending while the next one starts
// (a folder change) must not share a preview file with it.
std::atomic<int> NextWorkerNumber{0};

} // namespace

void TRawConverter::Start(const std::string &folder, std::vector<std::string> names,
                          const TThumbSettings &settings) {
    if (FRunning || !FThreads.empty())
        throw Exception("A RAW pass is already running");
    FFolder = folder;
    FNames = std::move(names);
    FSettings = settings;
    const int threads = std::min<int>(FWorkers, int(FNames.size()));
    FPreviews.clear();
    for (int i = 0; i < threads; ++i)
        FPreviews.push_back(WorkerPreviewPath(NextWorkerNumber++));
    {
        std::lock_guard lock(FLock);
        FResults.assign(FNames.size(), TRawResult{});
        FReady.assign(FNames.size(), 0);
        FDeliveryPosted = false;
    }
    FNextDelivery = 0;
    FStop = false;
    FNextFile = 0;
    FActive = threads;
    FRunning = true;
    if (threads == 0) {
        PostTo(this, [this] { Deliver(); });
        return;
    }
    for (int i = 0; i < threads; ++i)
        FThreads.emplace_back([this, i] { Work(i); });
}

void TRawConverter::Stop() {
    FStop = true;
}

void TRawConverter::Wait() {
    FStop = true;
    JoinAll();
}

void TRawConverter::JoinAll() {
    for (std::thread &t : FThreads)
        if (t.joinable())
            t.join();
    FThreads.clear();
}

void TRawConverter::Work(int worker) {
    const std::string &preview = FPreviews[std::size_t(worker)];
    if (worker == 0)
        RemoveStaleThumbnailTemps(FFolder);
    for (;;) {
        if (FStop)
            break;
        const int i = FNextFile++;
        if (i >= int(FNames.size()))
            break;
        TRawResult result = ConvertRawFile(FFolder, FNames[std::size_t(i)], FSettings, preview);
        std::lock_guard lock(FLock);
        FResults[std::size_t(i)] = std::move(result);
        FReady[std::size_t(i)] = 1;
        if (!FDeliveryPosted)
            PostDelivery();
    }
    ::unlink(preview.c_str());
    // The last thing a worker touches: once FActive is 0 the thread only has to return.
    std::lock_guard lock(FLock);
    if (--FActive == 0 && !FDeliveryPosted)
        PostDelivery();
}

void TRawConverter::PostDelivery() {
    FDeliveryPosted = true;
    PostTo(this, [this] { Deliver(); });
}

void TRawConverter::Deliver() {
    // A callback that runs the event loop must not let a nested delivery overtake the results
    // this one still holds: the outer loop collects what arrived meanwhile.
    if (!FRunning || FDelivering)
        return;
    FDelivering = true;
    // A callback that raises ends this delivery, not the pass: the delivery posted here hands
    // on the results after that one and finishes the pass.
    struct TDeliveryGuard {
        TRawConverter &Converter;
        bool Raised = true;
        ~TDeliveryGuard() {
            Converter.FDelivering = false;
            if (Raised) {
                std::lock_guard lock(Converter.FLock);
                Converter.PostDelivery();
            }
        }
    } guard{*this};
    bool workersDone = false;
    for (;;) {
        // One result at a time, so that none is lost when its callback raises.
        int index = -1;
        TRawResult result;
        {
            std::lock_guard lock(FLock);
            FDeliveryPosted = false;
            workersDone = FActive == 0;
            if (FNextDelivery < int(FReady.size()) && FReady[std::size_t(FNextDelivery)]) {
                index = FNextDelivery++;
                result = std::move(FResults[std::size_t(index)]);
            }
        }
        if (index < 0)
            break;
        if (!FStop && OnResult)
            OnResult(index, result);
    }
    guard.Raised = false;
    // A worker stores its last result before it ends, so with every worker gone every result
    // has been collected above.
    if (!workersDone)
        return;
    JoinAll();
    FRunning = false;
    if (OnFinished)
        OnFinished(FStop); // the last use of this object: OnFinished may delete it
}
