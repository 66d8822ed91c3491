#include "MetaTestUtil.h"

#include <cstdio>
#include <sstream>

namespace metatest {

std::string RunExiv2(const std::string &options, const std::string &file) {
    std::string quoted = "'";
    for (char c : file)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    quoted += "'";
    const std::string command = "exiv2 -q " + options + " " + quoted + " 2>/dev/null";
    std::string out;
    if (FILE *pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            out.append(buffer, n);
        ::pclose(pipe);
    }
    return out;
}

std::map<std::string, std::string> Exiv2Values(const std::string &print, const std::string &file) {
    // "Exif.Photo.FNumber                           Rational    1  F5.6"
    std::map<std::string, std::string> values;
    std::istringstream lines(RunExiv2(print, file));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string key, type, count;
        if (!(fields >> key >> type >> count))
            continue;
        std::string value;
        std::getline(fields, value);
        const auto start = value.find_first_not_of(' ');
        value = start == std::string::npos ? std::string() : value.substr(start);
        while (!value.empty() && value.back() == ' ')
            value.pop_back();
        values.emplace(key, value); // the first of a repeated key, as exiv2 lists it first
    }
    return values;
}

} // namespace metatest
