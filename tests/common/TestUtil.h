// Helpers shared by the tests: temporary folders, files, and waiting on a condition while the
// event loop runs.
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Services.h"

namespace testutil {

// The platform services in force now with change applied, in force until the result is dropped.
std::unique_ptr<TServicesScope>
ChangeServices(const std::function<void(TPlatformServices &)> &change);

// A fresh folder under the system temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    const std::string &path() const { return FPath; }
    std::string file(const std::string &name) const { return FPath + "/" + name; }

private:
    QTemporaryDir FDir;
    std::string FPath;
};

// A small file system (tmpfs) of its own, to see what a full disk does. Mounting needs the right
// to mount (root in a container); where that is missing, Mounted() is false and the test skips.
class SmallFileSystem {
public:
    explicit SmallFileSystem(std::size_t bytes);
    ~SmallFileSystem();
    SmallFileSystem(const SmallFileSystem &) = delete;
    SmallFileSystem &operator=(const SmallFileSystem &) = delete;
    bool Mounted() const { return FMounted; }
    const std::string &path() const { return FDir.path(); }
    std::string file(const std::string &name) const { return FDir.file(name); }
    // Fills it with one file until no more than `left` bytes remain free.
    void Fill(std::size_t left = 0);

private:
    TempDir FDir;
    bool FMounted = false;
};

void WriteFile(const std::string &path, const std::vector<std::uint8_t> &bytes);
void WriteFile(const std::string &path, const std::string &text);
std::vector<std::uint8_t> ReadFile(const std::string &path);
bool FileExists(const std::string &path);

// Absolute path of a file under the shared samples folder.
std::string Sample(const std::string &relative);
// The sample files come from ../shared/samples beside the source tree (see the README); a
// clone without them skips the tests that read them.
bool HaveSamples();
std::string MissingSamplesMessage();

// Runs the event loop until pred() holds or the time-out passes; returns pred().
bool WaitFor(const std::function<bool()> &pred,
             std::chrono::milliseconds timeout = std::chrono::seconds(20));

} // namespace testutil

// Skips the calling test, with one message naming the folder, when the samples are missing.
#define PIXAVANT_REQUIRE_SAMPLES()                                                                 \
    do {                                                                                           \
        if (!testutil::HaveSamples())                                                              \
            GTEST_SKIP() << testutil::MissingSamplesMessage();                                     \
    } while (0)
