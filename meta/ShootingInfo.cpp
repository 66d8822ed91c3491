#include "ShootingInfo.h"

#include <libraw/libraw.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <sys/stat.h>

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

void ReadWithExiv2(const std::string &path, ShootingInfo &info) {
    try {
        auto image = Exiv2::ImageFactory::open(path);
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
        if (IsRawFileName(path)) {
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

// LibRaw reading the file itself, stopped once it has used more processor time than any real
// file's metadata takes: a crafted file can make its parser loop.
class TBudgetStream : public LibRaw_file_datastream {
public:
    explicit TBudgetStream(const char *path) : LibRaw_file_datastream(path) {}
    int valid() override { return !FOver && LibRaw_file_datastream::valid(); }
    int read(void *buffer, size_t size, size_t count) override {
        return Check() ? LibRaw_file_datastream::read(buffer, size, count) : 0;
    }
    int seek(INT64 offset, int whence) override {
        return Check() ? LibRaw_file_datastream::seek(offset, whence) : -1;
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

void FillWithLibRaw(const std::string &path, ShootingInfo &info) {
    auto raw = std::make_unique<LibRaw>(LIBRAW_OPTIONS_NONE);
    raw->set_dataerror_handler(QuietDataError, nullptr);
    raw->set_memerror_handler(QuietMemoryError, nullptr);
    TBudgetStream stream(path.c_str());
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
    if (info.DateTaken.empty() && data.other.timestamp > 0) {
        std::tm local{};
        const std::time_t t = data.other.timestamp;
        char buffer[32];
        if (::localtime_r(&t, &local) &&
            std::strftime(buffer, sizeof buffer, "%Y:%m:%d %H:%M:%S", &local))
            info.DateTaken = buffer;
    }
    if (info.Width <= 0 || info.Height <= 0) {
        const bool turned = (data.sizes.flip & 4) != 0;
        info.Width = turned ? data.sizes.height : data.sizes.width;
        info.Height = turned ? data.sizes.width : data.sizes.height;
    }
}

std::string SizeText(long long bytes) {
    if (bytes < 1024)
        return std::to_string(bytes) + " bytes";
    if (bytes < 1024 * 1024)
        return Format("%.1f", bytes / 1024.0) + " KiB";
    return Format("%.1f", bytes / (1024.0 * 1024.0)) + " MiB";
}

} // namespace

ShootingInfo ReadShootingInfo(const std::string &path) {
    InitMetaLibrary();
    ShootingInfo info;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return info;
    info.FileSize = st.st_size;
    ReadWithExiv2(path, info);
    // LibRaw only where exiv2 left a gap: its parsers are the ones a crafted file can keep busy.
    const bool gap = info.Camera.empty() || info.ExposureTime.empty() || info.FNumber.empty() ||
                     info.Iso.empty() || info.FocalLength.empty() || info.DateTaken.empty() ||
                     info.Width <= 0 || info.Height <= 0;
    if (gap && IsRawFileName(path))
        FillWithLibRaw(path, info);
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
