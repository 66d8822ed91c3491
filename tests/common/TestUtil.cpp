#include "TestUtil.h"

#include <QFile>
#include <QThread>

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/stat.h>

namespace testutil {

TempDir::TempDir() : FDir(QDir::tempPath() + "/pixavant-test-XXXXXX") {
    if (!FDir.isValid())
        throw std::runtime_error("cannot create a temporary folder");
    FPath = QFile::encodeName(FDir.path()).toStdString();
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
