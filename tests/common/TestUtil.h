// Helpers shared by the tests: temporary folders, files, and waiting on a condition while the
// event loop runs.
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testutil {

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

void WriteFile(const std::string &path, const std::vector<std::uint8_t> &bytes);
void WriteFile(const std::string &path, const std::string &text);
std::vector<std::uint8_t> ReadFile(const std::string &path);
bool FileExists(const std::string &path);

// Absolute path of a file under the shared samples folder.
std::string Sample(const std::string &relative);

// Runs the event loop until pred() holds or the time-out passes; returns pred().
bool WaitFor(const std::function<bool()> &pred,
             std::chrono::milliseconds timeout = std::chrono::seconds(20));

} // namespace testutil
