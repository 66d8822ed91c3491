#include "TestUtil.h"

#include <QFile>
#include <QThread>

#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace testutil {

TempDir::TempDir() : FDir(QDir::tempPath() + "/pixavant-test-XXXXXX") {
    if (!FDir.isValid())
        throw std::runtime_error("cannot create a temporary folder");
    FPath = QFile::encodeName(FDir.path()).toStdString();
}

SmallFileSystem::SmallFileSystem(std::size_t bytes) {
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
    FMounted =
        ::mount("tmpfs", FDir.path().c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
}

SmallFileSystem::~SmallFileSystem() {
    if (FMounted)
        ::umount2(FDir.path().c_str(), MNT_DETACH);
}

void SmallFileSystem::Fill(std::size_t left) {
    const int fd = ::open(file(".filler").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        throw std::runtime_error("cannot fill " + path());
    std::vector<char> block(4096, 'f');
    for (;;) {
        struct statvfs fs {};
        if (::fstatvfs(fd, &fs) != 0 || std::uint64_t(fs.f_bavail) * fs.f_frsize <= left)
            break;
        const std::uint64_t room = std::uint64_t(fs.f_bavail) * fs.f_frsize - left;
        if (::write(fd, block.data(), std::size_t(std::min<std::uint64_t>(room, block.size()))) <=
            0)
            break;
    }
    ::close(fd);
}

void WriteFile(const std::string &path, const std::vector<std::uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

void WriteFile(const std::string &path, const std::string &text) {
    WriteFile(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::vector<std::uint8_t> ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool FileExists(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

std::string Sample(const std::string &relative) {
    return std::string(PIXAVANT_SAMPLES) + "/" + relative;
}

bool HaveSamples() {
    struct stat st;
    return ::stat((std::string(PIXAVANT_SAMPLES) + "/MANIFEST.tsv").c_str(), &st) == 0;
}

std::string MissingSamplesMessage() {
    return "no sample files in " + std::string(PIXAVANT_SAMPLES) +
           " (the shared samples folder beside the source tree); test skipped";
}

bool WaitFor(const std::function<bool()> &pred, std::chrono::milliseconds timeout) {
    QDeadlineTimer deadline(timeout);
    while (!pred()) {
        if (deadline.hasExpired())
            return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::yieldCurrentThread();
    }
    return true;
}

std::unique_ptr<TServicesScope>
ChangeServices(const std::function<void(TPlatformServices &)> &change) {
    TPlatformServices services = CurrentServices();
    change(services);
    return std::make_unique<TServicesScope>(std::move(services));
}

} // namespace testutil
