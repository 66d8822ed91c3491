#include "ShootingInfo.h"

#include <libraw/libraw.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "DecodeSandbox.h"
#include "DecodeWire.h"
#include "FileSystem.h"
#include "MetaLibrary.h"
#include "RawFormats.h"

namespace {

// A value exiv2 could not name ("(32767)", "n/a") says nothing to the user.
std::string Printed(const Exiv2::ExifData &exif, Exiv2::ExifData::const_iterator it) {
    if (it == exif.end())
        return {};
    std::string text = it->print(&exif);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0'))
        text.pop_back();
    if (text.empty() || text == "n/a" || text.front() == '(')
        return {};
    return text;
}

std::string Upper(std::string s) {
    for (char &c : s)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return s;
}

// "Canon" and "Canon EOS 20D" give "Canon EOS 20D"; "NIKON CORPORATION" and "D70" give
// "NIKON D70": the make's first word once, then the model.
std::string CameraName(const std::string &make, const std::string &model) {
    const std::string brand = make.substr(0, make.find(' '));
    if (model.empty())
        return make;
    if (brand.empty() || Upper(model).rfind(Upper(brand), 0) == 0)
        return model;
    return brand + " " + model;
}

void ReadWithExiv2(const std::uint8_t *data, std::size_t size, const std::string &name,
                   ShootingInfo &info) {
    try {
        auto image = Exiv2::ImageFactory::open(data, long(size));
        if (!image.get())
            return;
        image->readMetadata();
        const Exiv2::ExifData &exif = image->exifData();
        info.Camera =
            CameraName(Printed(exif, Exiv2::make(exif)), Printed(exif, Exiv2::model(exif)));
        info.Lens = Printed(exif, exif.findKey(Exiv2::ExifKey("Exif.Photo.LensModel")));
        if (info.Lens.empty())
            info.Lens = Printed(exif, Exiv2::lensName(exif));
        info.ExposureTime = Printed(exif, Exiv2::exposureTime(exif));
        info.FNumber = Printed(exif, Exiv2::fNumber(exif));
        info.Iso = Printed(exif, Exiv2::isoSpeed(exif));
        info.FocalLength = Printed(exif, Exiv2::focalLength(exif));
        info.ExposureBias = Printed(exif, Exiv2::exposureBiasValue(exif));
        info.DateTaken = Printed(exif, Exiv2::dateTimeOriginal(exif));
        if (IsRawFileName(name)) {
            // A RAW file's first image is often its preview; the EXIF sizes are the photo's.
            const auto w = exif.findKey(Exiv2::ExifKey("Exif.Photo.PixelXDimension"));
            const auto h = exif.findKey(Exiv2::ExifKey("Exif.Photo.PixelYDimension"));
            if (w != exif.end() && h != exif.end()) {
                info.Width = int(w->toLong());
                info.Height = int(h->toLong());
            }
        } else {
            info.Width = image->pixelWidth();
            info.Height = image->pixelHeight();
        }
    } catch (const std::exception &) {
        // What was read before the damage stays.
    }
}

// LibRaw reading the file's bytes, stopped once it has used more processor time than any real
// file's metadata takes: a crafted file can make its parser loop.
class TBudgetStream : public LibRaw_buffer_datastream {
public:
    TBudgetStream(const std::uint8_t *data, std::size_t size)
        : LibRaw_buffer_datastream(const_cast<std::uint8_t *>(data), size) {}
    int valid() override { return !FOver && LibRaw_buffer_datastream::valid(); }
    int read(void *buffer, size_t size, size_t count) override {
        return Check() ? LibRaw_buffer_datastream::read(buffer, size, count) : 0;
    }
    int seek(INT64 offset, int whence) override {
        return Check() ? LibRaw_buffer_datastream::seek(offset, whence) : -1;
    }

private:
    bool Check() {
        if (FOver || ++FCalls % 256 != 0)
            return !FOver;
        timespec now{};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        const double used =
            double(now.tv_sec - FStart.tv_sec) + (now.tv_nsec - FStart.tv_nsec) / 1e9;
        FOver = used > 2.0;
        return !FOver;
    }
    timespec FStart = [] {
        timespec t{};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return t;
    }();
    unsigned FCalls = 0;
    bool FOver = false;
};

extern "C" void QuietDataError(void *, const char *, const int) {}
extern "C" void QuietMemoryError(void *, const char *, const char *) {}

std::string Format(const char *format, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

// LibRaw's numbers written as exiv2 prints them, so a field reads the same whichever library
// gave it.
std::string ExposureText(double seconds) {
    if (seconds <= 0)
        return {};
    if (seconds < 1)
        return "1/" + Format("%.0f", 1 / seconds) + " s";
    return Format("%g", seconds) + " s";
}

// The date LibRaw read, in seconds since 1970; the program writes it in its own time zone.
void FillWithLibRaw(const std::uint8_t *bytes, std::size_t size, ShootingInfo &info,
                    long long &timestamp) {
    auto raw = std::make_unique<LibRaw>(LIBRAW_OPTIONS_NONE);
    raw->set_dataerror_handler(QuietDataError, nullptr);
    raw->set_memerror_handler(QuietMemoryError, nullptr);
    TBudgetStream stream(bytes, size);
    if (!stream.valid() || raw->open_datastream(&stream) != LIBRAW_SUCCESS)
        return;
    const auto &data = raw->imgdata;
    if (info.Camera.empty())
        info.Camera = CameraName(data.idata.make, data.idata.model);
    if (info.Lens.empty())
        info.Lens = data.lens.Lens;
    if (info.ExposureTime.empty())
        info.ExposureTime = ExposureText(data.other.shutter);
    if (info.FNumber.empty() && data.other.aperture > 0)
        info.FNumber = "F" + Format("%.2g", data.other.aperture);
    if (info.Iso.empty() && data.other.iso_speed > 0)
        info.Iso = Format("%.0f", data.other.iso_speed);
    if (info.FocalLength.empty() && data.other.focal_len > 0)
        info.FocalLength = Format("%.1f", data.other.focal_len) + " mm";
    if (info.DateTaken.empty() && data.other.timestamp > 0)
        timestamp = data.other.timestamp;
    if (info.Width <= 0 || info.Height <= 0) {
        const bool turned = (data.sizes.flip & 4) != 0;
        info.Width = turned ? data.sizes.height : data.sizes.width;
        info.Height = turned ? data.sizes.width : data.sizes.height;
    }
}

// The text fields as the helper names them.
const std::pair<const char *, std::string ShootingInfo::*> TextFields[] = {
    {"Camera", &ShootingInfo::Camera},
    {"Lens", &ShootingInfo::Lens},
    {"ExposureTime", &ShootingInfo::ExposureTime},
    {"FNumber", &ShootingInfo::FNumber},
    {"Iso", &ShootingInfo::Iso},
    {"FocalLength", &ShootingInfo::FocalLength},
    {"ExposureBias", &ShootingInfo::ExposureBias},
    {"DateTaken", &ShootingInfo::DateTaken},
};

// No real picture's fields come near this.
constexpr std::int64_t MaxShootingInfoBytes = 1 << 20;

std::string SizeText(long long bytes) {
    if (bytes < 1024)
        return std::to_string(bytes) + " bytes";
    if (bytes < 1024 * 1024)
        return Format("%.1f", bytes / 1024.0) + " KiB";
    return Format("%.1f", bytes / (1024.0 * 1024.0)) + " MiB";
}

} // namespace

std::string ReadShootingInfoText(const std::uint8_t *data, std::size_t size,
                                 const std::string &name) {
    InitMetaLibrary();
    ShootingInfo info;
    ReadWithExiv2(data, size, name, info);
    // LibRaw only where exiv2 left a gap: its parsers are the ones a crafted file can keep busy.
    const bool gap = info.Camera.empty() || info.ExposureTime.empty() || info.FNumber.empty() ||
                     info.Iso.empty() || info.FocalLength.empty() || info.DateTaken.empty() ||
                     info.Width <= 0 || info.Height <= 0;
    long long timestamp = 0;
    if (gap && IsRawFileName(name))
        FillWithLibRaw(data, size, info, timestamp);
    std::string text;
    const auto line = [&](const char *key, std::string value) {
        if (value.empty())
            return;
        std::replace_if(
            value.begin(), value.end(), [](char c) { return c == '\n' || c == '\t'; }, ' ');
        text += std::string(key) + '\t' + value + '\n';
    };
    for (const auto &[key, field] : TextFields)
        line(key, info.*field);
    if (info.Width > 0 && info.Height > 0) {
        line("Width", std::to_string(info.Width));
        line("Height", std::to_string(info.Height));
    }
    if (timestamp > 0)
        line("Timestamp", std::to_string(timestamp));
    return text;
}

ShootingInfo ReadShootingInfo(const std::string &path) {
    ShootingInfo info;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return info;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return info;
    }
    info.FileSize = st.st_size;
    // The parsers read the file's bytes in the sandboxed decoding helper.
    TDecodeRequest request;
    request.Job = TDecodeJob::ShootingInfo;
    std::snprintf(request.Path, sizeof request.Path, "%s", ExtractFileName(path).c_str());
    const TSandboxResult result = RunDecode(request, fd);
    ::close(fd);
    std::string text(result.End == TSandboxEnd::Done && result.Reply.Size > 0 &&
                             result.Reply.Size <= MaxShootingInfoBytes
                         ? std::size_t(result.Reply.Size)
                         : 0,
                     '\0');
    if (!text.empty() && !result.Read(text.data()))
        text.clear();
    long long timestamp = 0;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        const std::string lineText = text.substr(at, end - at);
        at = end + 1;
        const std::size_t tab = lineText.find('\t');
        if (tab == std::string::npos)
            continue;
        const std::string key = lineText.substr(0, tab), value = lineText.substr(tab + 1);
        for (const auto &[name, field] : TextFields)
            if (key == name)
                info.*field = value;
        if (key == "Width")
            info.Width = std::atoi(value.c_str());
        else if (key == "Height")
            info.Height = std::atoi(value.c_str());
        else if (key == "Timestamp")
            timestamp = std::atoll(value.c_str());
    }
    if (info.DateTaken.empty() && timestamp > 0) {
        std::tm local{};
        const std::time_t t = std::time_t(timestamp);
        char buffer[32];
        if (::localtime_r(&t, &local) &&
            std::strftime(buffer, sizeof buffer, "%Y:%m:%d %H:%M:%S", &local))
            info.DateTaken = buffer;
    }
    info.Marks = ReadMarks(path);
    return info;
}

std::vector<std::pair<std::string, std::string>> ShootingInfoFields(const ShootingInfo &info) {
    std::vector<std::pair<std::string, std::string>> fields;
    auto add = [&](const char *caption, const std::string &value) {
        if (!value.empty())
            fields.emplace_back(caption, value);
    };
    add("Camera", info.Camera);
    add("Lens", info.Lens);
    add("Exposure", info.ExposureTime);
    add("Aperture", info.FNumber);
    add("ISO", info.Iso);
    add("Focal length", info.FocalLength);
    add("Exposure bias", info.ExposureBias);
    add("Taken", info.DateTaken);
    if (info.Width > 0 && info.Height > 0)
        add("Pixels", std::to_string(info.Width) + " \u00d7 " + std::to_string(info.Height));
    if (info.FileSize >= 0)
        add("File size", SizeText(info.FileSize));
    add("Rating", info.Marks.Rating < 0 ? std::string("Rejected")
                                        : std::to_string(info.Marks.Rating) + " of 5");
    add("Label", info.Marks.Label);
    return fields;
}

std::string ShootingInfoLine(const ShootingInfo &info) {
    std::string line;
    for (const auto &[caption, value] : ShootingInfoFields(info))
        line += (line.empty() ? "" : "  \u00b7  ") +
                (caption == std::string("ISO") ? "ISO " + value : value);
    return line;
}
